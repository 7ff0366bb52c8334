/* support.h: small services that the kernel takes from the stream and text
 * layers: message output on standard error, conversion of operating-system
 * text, path suffixes and the internal-encoding validity test. */
#ifndef VOSTREL_SUPPORT_H
#define VOSTREL_SUPPORT_H

/* Error printer (stream_io.cpp): through the hook an embedding program
   installs with VR_set_errprintf_hook (streams.h), else after a newline on
   the process's standard error, which is flushed; the number of
   characters formatted.  vr_ttyprintf and vr_ttyflush write and flush the
   standard error stream (the process's standard error before the stream
   layer starts). */
int errprintf(int flags, const char *format, ...) __attribute__((format(printf, 2, 3)));
void vr_ttyprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void vr_ttyflush(void);

/* Text from the operating system's encoding to the internal one, in a
   buffer owned by the conversion; null on failure. */
const char *VR_from_os(const char *text, int options);
/* The suffix of the last path component from its last dot, or null. */
const char *vr_path_suffix(const char *path);
/* Non-zero when text is valid internal encoding (UTF-8, code 0 as C0 80). */
int wci_valid_string(const char *text);

#endif
