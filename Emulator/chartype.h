/* chartype.h: syntactic character classes and the internal text encoding.
 *
 * Every character code has one class for the tokenizer, the writer, the
 * number parser and the atom table's quoting decisions.  Codes up to 255
 * come from the table `default_chtype` of eglobal; codes above go to a
 * replaceable hook.  Classes are looked up through a two-way cache in
 * eglobal (`chcode_hash`, `chtype_hash`), so the inner loops make two
 * compares before any call.
 *
 * The internal encoding is UTF-8 in which code 0 is the two bytes C0 80, so
 * no encoded text holds a zero byte; the 5- and 6-byte forms carry codes up
 * to 2^31 - 1.  Conversion to and from the operating system's encoding is in
 * os_text.cpp, named encodings in encodings.cpp.  Engine thread only.
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
   character; 9 for bytes that cannot start one. */
extern const unsigned char wci_extra_bytes[256];

/* Class of codes -1 (end of file) to 255 from the table; CH_UNDECIDED for
   every other code. */
int VR_latin1_chartype(int code);
/* The default classifier of codes that miss the cache: the table up to 255,
   the four Unicode layout marks and separators, then CH_LC for abstract
   characters when legacy classification is on, else CH_UNDECIDED. */
int vr_unicode_chartype(int code);
typedef int (*VR_WcxCharTypeHook)(int code);
extern VR_WcxCharTypeHook wcx_chartype_hook;

/* The class of any code from -1 up: the cache, else ch_type_hash.  Codes
   below -1 are CH_UNDECIDED (never cached). */
int ch_type(int code);
/* Classifies a code that missed the cache and enters it in way 0, moving
   the slot's old way-0 entry to way 1. */
int ch_type_hash(int code);
void clear_ch_type_hash(void);

int get_wcx_legacy_char_classification(void);
/* Switching empties the cache and reclassifies every atom. */
void set_wcx_legacy_char_classification(int value);

/* Decodes the first character of `wci` into *pcode (when pcode is not null)
   and returns its byte count: 0 for a null or empty text, -1 when the first
   byte cannot start a character, -k when byte k is not a continuation
   byte.  Overlong forms are accepted (C0 80 is 0). */
int VR_wci_code(int *pcode, const char *wci);
/* The byte count of the first character, with VR_wci_code's results. */
int VR_wci_len(const char *wci);
/* Writes the encoding of code (no terminator) and returns its length; with
   a null wci only the length.  -1 (nothing written) for a negative code. */
int VR_code_wci(char *wci, int code);
/* 1 when the zero-terminated text is valid internal encoding, else 0. */
int wci_valid_string(const char *wci);

/* Conversions between the internal encoding and the operating system's.
   Contexts: 1 file name, 2 argument or option value, 3 message of the
   system or the dynamic loader.  The result is valid until the next
   conversion of the same context and is not freed by the caller; null when
   the text cannot be converted (the caller's text is never handed back
   unconverted, since it would not be valid in the other encoding). */
typedef const char *(*VR_WcxConvHook)(const char *text, int context);
extern VR_WcxConvHook wcx_to_os_hook;
extern VR_WcxConvHook wcx_from_os_hook;
const char *VR_to_os(const char *ienc, int context);
const char *VR_from_os(const char *senc, int context);
const char *to_os_hook_utf8(const char *ienc, int context);
const char *from_os_hook_utf8(const char *senc, int context);

/* Start-up: the class table, the system encoding for options, the default
   hooks, the empty cache.  Shutdown releases what the conversions hold. */
void init_wcx(void);
void deinit_wcx(void);
/* The classification part of init_wcx: the table, legacy classification
   off (no atom is reclassified), the empty cache. */
void wcx_reset_classification(void);

#endif
