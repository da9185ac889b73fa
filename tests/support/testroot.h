// Each test gets its own temporary device root, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace oxm::test {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  const std::string& path() const { return path_; }
  // Host path of a device-relative name ("Registry/HKEY_CURRENT_USER.reg").
  std::string host(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// A fixture that sets up a TempRoot, resets fault injection and the fixed clock.
class RootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Switches the protocol log on (it writes only while its file exists); returns the file's host path.
  std::string switchOnProtocolLog();
  TempRoot root_;
};

// Host file helpers for tests (tests may use the host directly).
// A new folder $TMPDIR/PREFIX.XXXXXX (/tmp without TMPDIR); aborts when none can be made.
std::string makeTempDir(const char* prefix);
std::string readHostFile(const std::string& hostPath);
void writeHostFile(const std::string& hostPath, const std::string& bytes);
bool hostFileExists(const std::string& hostPath);

}  // namespace oxm::test
