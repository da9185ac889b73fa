// The tests' own reading of a scrambled profile file, independent of the library's.
#pragma once

#include <string>
#include <vector>

namespace oxm::test {

// Every line of the UTF-16LE bytes unscrambled (the BOM and key lines too), and the last line key.
struct DecodedProfile {
  std::vector<std::u16string> lines;
  int key = 1;
};

inline DecodedProfile decodeProfile(const std::string& bytes) {
  DecodedProfile d;
  std::u16string line;
  auto flush = [&] {
    std::u16string plain;
    for (char16_t c : line) plain += static_cast<char16_t>((d.key - c + 65519) % 65488 + 32);
    d.lines.push_back(plain);
    if (plain.rfind(u"key1=", 0) == 0) d.key = std::stoi(std::string(plain.begin() + 5, plain.end()));
    line.clear();
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (c != u'\n') {
      line += c;
      continue;
    }
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    flush();
  }
  if (!line.empty()) flush();
  return d;
}

// The same lines as wide strings.
inline std::vector<std::wstring> profileLines(const std::string& bytes) {
  std::vector<std::wstring> lines;
  for (const std::u16string& line : decodeProfile(bytes).lines) lines.emplace_back(line.begin(), line.end());
  return lines;
}

}  // namespace oxm::test
