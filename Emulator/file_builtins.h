/* file_builtins.h: the file and directory built-ins and the engine's own
 * path tests (file_builtins.cpp).
 *
 * Paths are absolute, in the internal encoding.  The built-ins unify their
 * last argument with the I/O library's result code instead of raising.
 */
#ifndef VOSTREL_FILE_BUILTINS_H
#define VOSTREL_FILE_BUILTINS_H

#include "vostrel/vrio.h"

struct worker;

/* vrio_test_file_access with positive results counted as 0. */
vrio_t_error_code vr_test_file_access(const char *path, unsigned mode);
/* 1 or 0: a readable regular file, a regular file, a directory. */
int is_readable_file_ienc(const char *path);
int is_file_ienc(const char *path);
int is_dir_ienc(const char *path);

int prolog_test_file_access(worker *w);
int prolog_file_property(worker *w);
int prolog_rename_file(worker *w);
int prolog_delete_file(worker *w);
int prolog_list_directory(worker *w);
int prolog_create_directory(worker *w);

#endif
