#include "frame/oxerror.h"

namespace {
unsigned int lastError = 0;  // one per process, as callers of the library expect
}

unsigned int GetOxMiddleError() { return lastError; }

void SetOxMiddleError(unsigned int code) { lastError = code; }
