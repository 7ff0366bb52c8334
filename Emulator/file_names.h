/* file_names.h: file names, paths and the runtime's current directory.
 *
 * Every name the runtime hands to the operating system is first expanded
 * into an absolute, normalised path in the internal encoding, relative to
 * the runtime's own current directory (eglobal->cwd_ienc, absolute and
 * ending with "/"), which need not be the process's.  Expansion never
 * raises: it returns a new VR_malloc string or null.
 *
 * Expansion options: 0x1 directory form (the result ends with "/"); 0x2 a
 * plain relative name fails (it must be absolute or start with ~ or $);
 * 0x4 a leading $ is an ordinary character; 0x8 set while a home or
 * start-up directory is expanded (a ~ there fails, so a home directory
 * that names itself cannot recurse); 0x10 the root alone is given as
 * "/."; 0x20 the root alone is given as "/".
 *
 * Callers: opening files (stream_open.cpp), the file-name built-ins of
 * the runtime library, start-up (init_once_file).  Engine thread only.
 */
#ifndef VOSTREL_FILE_NAMES_H
#define VOSTREL_FILE_NAMES_H

struct worker;

char *vr_expand_file_name_internal(const char *relpath, const char *cwd, unsigned options);
/* With cwd given, cwd is expanded first (directory form) and relpath is
   taken relative to it; otherwise relative to cwd_ienc. */
char *vr_expand_file_name(const char *relpath, const char *cwd, unsigned options);
/* 0 and the new string, or -10001. */
int VR_expand_file_name(const char *relpath, const char *cwd, unsigned options, char **abspath);
/* The home directory of a user (null: the current one), expanded; null on
   failure. */
char *vr_user_directory(const char *username, unsigned options);

int vr_get_root_len(const char *path);
/* Returns the end of the path; sets where the text after the root starts
   (null without a root), where the file name starts and where its suffix
   starts (null without one).  Any out-pointer may be null. */
const char *vr_split_path(const char *path, const char **root, const char **filename,
                          const char **suffix);
/* The "/" that ends the parent directory, or null: /a/b gives /a/, a/b
   gives a/; /a, /, a and a/ have none. */
const char *parent_dir_end(const char *path);
char *vr_dirname(const char *path);
char *vr_basename(const char *path, int strip_suffix);

const char *vr_cwd_ienc(void);
char *VR_get_current_dir(void);
/* 0, 1 (the runtime's directory changed but the process's did not) or a
   negative code. */
int VR_set_current_dir(const char *dir);
/* Bits: 1 do not change the process's directory, 2 do not change
   cwd_ienc. */
extern int vr_set_current_dir_default_options;

/* Once per process: the current directory and the temporary directory;
   1 on success.  deinit_once_file releases the directory at shutdown. */
int init_once_file(void);
void deinit_once_file(void);

/* The program file for a command name: the name itself when it has a
   "/", else the first element of the search path in envvar under which
   it is an existing regular file; null otherwise. */
char *resolve_argv_execpath(const char *name, const char *envvar);

/* Built-ins (module prolog). */
int prolog_absolute_path(worker *w);       /* $absolute_path(Path, RelTo, Options, AbsPath) */
int prolog_directory_path(worker *w);      /* $directory_path(Path, Dir) */
int prolog_file_type(worker *w);           /* $file_type(Path, Type, SourcePath) */
int prolog_split_env_path(worker *w);      /* $split_env_path(Var, Dirs, Code) */
int prolog_unix_cd(worker *w);             /* $unix_cd(Old, New) */
int prolog_set_current_dir_options(worker *w); /* $set_current_dir_options(Old, New) */

#endif
