// Committing a written temporary file (frame/safefile.h) for the files of this layer.
#pragma once

#include <string>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/fs.h"

namespace oxm {

// commitReplacement(path); when it fails the file is still the old one and the temporary file
// is of no use, so it goes at once rather than at the next pre-open check.
inline unsigned commitOrDiscard(const std::wstring& path) {
  unsigned code = commitReplacement(path);
  if (code == OXMDL_ERR_STG_PRIM_COMMIT) DeleteFileW(temporaryPath(path));
  return code;
}

}  // namespace oxm
