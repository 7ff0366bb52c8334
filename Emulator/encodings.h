/* encodings.h: named character encodings for foreign code and for the
 * conversions of operating-system text.
 *
 * An encoding handle is a counted reference to a coder kind; an encoding
 * state is an open coder that converts in one direction (bytes to 32-bit
 * codes in machine order, or codes to bytes) and keeps a partial character
 * between calls.  Every function returns 0 or a small positive success code,
 * or a negative vrio_t_error_code; on failure no output pointer is set and
 * whatever the call obtained is released.
 *
 * The coders here are built in: "UTF-8", "ISO-8859-1" (alias "latin1") and
 * "US-ASCII" (aliases "ASCII", "ANSI_X3.4-1968"), looked up by loose name
 * (letter case, "-" and "_" ignored).  Other character sets need the I/O
 * library's coder registry and give VRIO_E_CHARSET_NOT_FOUND until then.
 * Engine thread only.
 */
#ifndef VOSTREL_ENCODINGS_H
#define VOSTREL_ENCODINGS_H

#include <cstddef>

struct vr_coder_kind;
struct vr_coder_state;
typedef const vr_coder_kind *VR_encoding;
typedef vr_coder_state *VR_encoding_state;

/* The system's encoding for options and arguments, found by init_wcx;
   null when none was found (text is then taken as UTF-8). */
extern VR_encoding wcx_option_encoding;

/* Option bit 1: the system encoding (get_system_encoding, which sees the
   other bits); else the coder registered under name.  Bit 8 demands a
   coder that can seek (the single-byte ones), else VRIO_E_SEEK_ERROR. */
int VR_get_encoding(const char *name, VR_encoding *pencoding, unsigned options);
/* Option bit 2: look up the option variables (VR_CTYPE, LC_ALL, LC_CTYPE,
   LANG, the locale); bit 4 the standard-stream variables (VR_CTYPE_STDIO,
   VR_CTYPE, the locale); name must then be null.  Otherwise a non-null
   name is the one variable to look up, a null one the locale alone. */
int get_system_encoding(const char *name, VR_encoding *pencoding, unsigned options);
void VR_encoding_release(VR_encoding encoding);
/* Options: bit 2 decodes (bytes to codes), otherwise the state encodes. */
int VR_encoding_open(VR_encoding encoding, VR_encoding_state *pstate, void *args, unsigned options);

/* Options: 1 open a fresh state for this call, 2 the source is final, 4
   only release the state in *pstate.  Sizes in bytes.  A finished
   conversion closes the state and answers VRIO_S_DEALLOCATED. */
int VR_encode_to_codes(VR_encoding encoding, const void *src, std::size_t src_size,
                       VR_encoding_state *pstate, void *dst, std::size_t dst_size,
                       std::size_t *psrc_size_read, std::size_t *pdst_size_wrote, unsigned options);
int VR_encode_from_codes(VR_encoding encoding, const void *src, std::size_t src_size,
                         VR_encoding_state *pstate, void *dst, std::size_t dst_size,
                         std::size_t *psrc_size_read, std::size_t *pdst_size_wrote, unsigned options);
int vr_encode_codes(VR_encoding encoding, const void *src, std::size_t src_size,
                    VR_encoding_state *pstate, void *dst, std::size_t dst_size,
                    std::size_t *psrc_size_read, std::size_t *pdst_size_wrote, unsigned options,
                    bool to_codes);

/* A whole buffer into a new VR_malloc block; *pdst_size in bytes. */
int vr_encode_to_codes_allocate(VR_encoding encoding, const void *src, std::size_t src_size,
                                void **pdst, std::size_t *pdst_size, unsigned options);
int vr_encode_from_codes_allocate(VR_encoding encoding, const void *src, std::size_t src_size,
                                  void **pdst, std::size_t *pdst_size, unsigned options);
/* A zero-terminated string in the encoding to new (VR_malloc) internal
   text; the size counts the terminator. */
int vr_encode_to_ienc(VR_encoding encoding, const char *src, char **pienc, std::size_t *pienc_size);

/* The encoding name of a handle ("UTF-8", "ISO-8859-1", "US-ASCII"). */
const char *vr_encoding_name(VR_encoding encoding);
/* References held on the handle (tests check the balance). */
int vr_encoding_refs(VR_encoding encoding);

#endif
