// Default sanitizer options of every program of a sanitizer build.  The
// sanitizer runtimes call these functions before they read ASAN_OPTIONS and
// UBSAN_OPTIONS, so an option given in the environment still wins.  The
// texts come from cmake/TrelixEmulator.cmake, the one place they are chosen.

extern "C" const char *__asan_default_options() { return TRELIX_ASAN_DEFAULTS; }
extern "C" const char *__ubsan_default_options() { return TRELIX_UBSAN_DEFAULTS; }
