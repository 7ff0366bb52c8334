/* engine_state.cpp: static storage of the engine's global record and of
 * the one worker.  Everything here is zero at process start; start-up fills
 * it in. */
#include "datadefs.h"
#include "worker.h"

engine_global eglobal_storage;
int vr_prolog_initialized = 0;

static worker self_storage;
worker *self = &self_storage;
