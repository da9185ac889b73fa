#include "tests/support/testroot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/fault.h"
#include "platform/memory.h"

namespace oxm::test {

TempRoot::TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/oxmtest.XXXXXX";
  char* made = mkdtemp(tmpl.data());
  if (!made) std::abort();
  path_ = made;
}

TempRoot::~TempRoot() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void RootTest::SetUp() {
  setRootDirectory(root_.path());
  fault::reset();
  clearFixedClock();
  setFixedAvailPhys(std::nullopt);
  setActiveCodePage(std::nullopt);
}

void RootTest::TearDown() {
  fault::reset();
  clearFixedClock();
  setActiveCodePage(std::nullopt);
}

std::string readHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeHostFile(const std::string& hostPath, const std::string& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool hostFileExists(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0;
}

}  // namespace oxm::test
