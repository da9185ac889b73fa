// A benchmark program's device root: a fresh directory made on first use and removed at exit.
// A relative name template puts it on the project's own disk (not a RAM file system), so that
// flushes cost what they do.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/env.h"

namespace oxm::bench {

struct BenchRoot {
  explicit BenchRoot(std::string tmpl) {
    path = std::filesystem::absolute(mkdtemp(tmpl.data())).string();
    setRootDirectory(path);
  }
  ~BenchRoot() { std::filesystem::remove_all(path); }
  std::string path;
};

// The program's root, made from `tmpl` ("name.XXXXXX") on the first call.
inline const BenchRoot& benchRoot(const char* tmpl) {
  static BenchRoot r(tmpl);
  return r;
}

}  // namespace oxm::bench
