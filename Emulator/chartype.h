/* chartype.h: syntactic character classes and the internal text encoding.
 *
 * Every character code has one class for the tokenizer, the writer and the
 * atom table's quoting decisions.  Codes up to 255 come from a fixed table;
 * codes above go to a replaceable hook.  The internal encoding is UTF-8 in
 * which code 0 is the two bytes C0 80, so no encoded text holds a zero
 * byte.  Engine thread only.
 */
#ifndef VOSTREL_CHARTYPE_H
#define VOSTREL_CHARTYPE_H

enum CH_type {
  CH_WHITE = 1, CH_LC = 2, CH_UC = 3, CH_SOLO = 4, CH_SYMBOL = 5, CH_UNDECIDED = 6,
  CH_DIGIT = 7, CH_BANG = 8, CH_BAR = 9, CH_COMMA = 10, CH_DQUOTE = 11, CH_LPAR = 12,
  CH_LBRACE = 13, CH_LBRACK = 14, CH_PERCENT = 15, CH_RPAR = 16, CH_RBRACE = 17,
  CH_RBRACK = 18, CH_SEMICOLON = 19, CH_SQUOTE = 20, CH_UNDERSCORE = 21, CH_BACKQUOTE = 22
};

/* Continuation bytes that follow each possible first byte of an encoded
   character; above 5 for bytes that cannot start one. */
extern const unsigned char wci_extra_bytes[256];

/* Class of codes -1 (end of file) to 255 from the fixed table; CH_UNDECIDED
   for every other code. */
int VR_latin1_chartype(int code);
/* The default classifier of codes above 127: the table up to 255, then the
   four Unicode layout marks and separators, CH_UNDECIDED otherwise. */
int vr_unicode_chartype(int code);
/* Classifier for codes above 127 (default vr_unicode_chartype). */
typedef int (*VR_WcxCharTypeHook)(int code);
extern VR_WcxCharTypeHook wcx_chartype_hook;
/* The class of any code from -1 up. */
int ch_type(int code);

/* Decodes the first character of `wci` into *pcode (when pcode is not null)
   and returns its byte count: 0 for a null or empty text, -1 when the first
   byte cannot start a character, -k when byte k is not a continuation
   byte.  Overlong forms are accepted (C0 80 is 0). */
int VR_wci_code(int *pcode, const char *wci);
/* 1 when the zero-terminated text is valid internal encoding, else 0. */
int wci_valid_string(const char *wci);

#endif
