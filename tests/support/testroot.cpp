#include "tests/support/testroot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/fault.h"
#include "platform/memory.h"

namespace oxm::test {

std::string makeTempDir(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  return tmpl;
}

TempRoot::TempRoot() : path_(makeTempDir("oxmtest")) {}

TempRoot::~TempRoot() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void RootTest::SetUp() {
  setRootDirectory(root_.path());
  RootTest::TearDown();  // the same resets
}

std::string RootTest::switchOnProtocolLog() {
  const std::string file = root_.host("Application Data/OxenMail/OxMailLog.txt");
  std::filesystem::create_directories(root_.host("Application Data/OxenMail"));
  writeHostFile(file, "");
  return file;
}

void RootTest::TearDown() {
  fault::reset();
  clearFixedClock();
  setFixedAvailPhys(std::nullopt);
  setActiveCodePage(std::nullopt);
}

std::string readHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
