// Small text helpers shared by the codec, for narrow and wide strings alike.
#pragma once

#include <string>
#include <string_view>

namespace oxm {

template <typename C>
bool isBlankOrTab(C c) {
  return c == C(' ') || c == C('\t');
}

// Without blanks and tabs at both ends.
template <typename S>
S trimBlanks(const S& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && isBlankOrTab(s[b])) ++b;
  while (e > b && isBlankOrTab(s[e - 1])) --e;
  return s.substr(b, e - b);
}

template <typename C>
C lowerAsciiChar(C c) {
  return c >= C('A') && c <= C('Z') ? C(c - C('A') + C('a')) : c;
}

template <typename S>
S lowerAscii(S s) {
  for (auto& c : s) c = lowerAsciiChar(c);
  return s;
}

// Whether `s` begins with `prefix`, ignoring ASCII case.
inline bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lowerAsciiChar(s[i]) != lowerAsciiChar(prefix[i])) return false;
  return true;
}

// Position of `needle` in `s` ignoring ASCII case, npos when absent.
inline size_t findNoCase(std::string_view s, std::string_view needle, size_t from = 0) {
  if (needle.empty()) return from <= s.size() ? from : std::string_view::npos;
  for (size_t i = from; i + needle.size() <= s.size(); ++i)
    if (startsWithNoCase(s.substr(i), needle)) return i;
  return std::string_view::npos;
}

}  // namespace oxm

namespace oxm {

// Cuts wide text to at most `units` UTF-16 code units; a character above U+FFFF counts two and
// is dropped whole when only one unit is left for it.
inline void cutToUtf16Units(std::wstring* s, size_t units) {
  size_t used = 0;
  for (size_t i = 0; i < s->size(); ++i) {
    const size_t w = static_cast<unsigned long>((*s)[i]) > 0xFFFF ? 2 : 1;
    if (used + w > units) {
      s->resize(i);
      return;
    }
    used += w;
  }
}

}  // namespace oxm
