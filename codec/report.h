// How the codec's exported calls end: every call, success included, leaves its code in the
// last-error variable, and the call answers whether it succeeded.
#pragma once

#include "frame/oxerror.h"

namespace oxm {

inline bool reportCode(unsigned code) {
  SetOxMiddleError(code);
  return code == OXMDL_ERR_NONE;
}

}  // namespace oxm
