// The tests' own reading of a scrambled profile file, independent of the library's.
#pragma once

#include <string>
#include <vector>

namespace oxm::test {

// Every line of the UTF-16LE bytes unscrambled, the BOM line and the key line included, in file
// order, and the line key the last lines used.
struct DecodedProfile {
  std::vector<std::u16string> lines;
  int key = 1;
};
DecodedProfile decodeProfile(const std::string& bytes);

// The same lines as wide strings.
std::vector<std::wstring> profileLines(const std::string& bytes);

}  // namespace oxm::test
