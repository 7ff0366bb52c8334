/* preds.cpp: the storage of `preds` (see preds.h).  Zero until start-up
 * fills it. */
#include "preds.h"

pred_addresses preds;
