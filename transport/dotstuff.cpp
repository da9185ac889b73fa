#include "transport/dotstuff.h"

#include <cstring>

namespace oxm::transport {

void dotStuff(std::string& text) {
  size_t count = 0;
  for (size_t at = text.find("\r\n."); at != std::string::npos; at = text.find("\r\n.", at + 3))
    ++count;
  if (count) {
    // One pass from the back, so a long text moves once.
    size_t old = text.size();
    text.resize(old + count);
    size_t to = text.size();
    for (size_t from = old; from > 0;) {
      --from;
      text[--to] = text[from];
      if (text[from] == '.' && from >= 2 && text[from - 1] == '\n' && text[from - 2] == '\r')
        text[--to] = '.';
    }
  }
  if (!text.empty() && text.back() == '.') text.push_back('.');
}

void dotUnstuff(std::string& text) {
  // "\r\n..": the first dot stays, the second goes. The text moves only past the dots that go,
  // and a text without any (most of them) is not touched.
  size_t to = 0, from = 0;
  for (size_t at = text.find("\r\n.."); at != std::string::npos; at = text.find("\r\n..", at + 4)) {
    const size_t kept = at + 3 - from;  // up to and with the first dot
    if (to != from) std::memmove(&text[to], text.data() + from, kept);
    to += kept;
    from = at + 4;
  }
  if (from > 0) {
    const size_t rest = text.size() - from;
    if (to != from) std::memmove(&text[to], text.data() + from, rest);
    text.resize(to + rest);
  }
  if (text.size() >= 2 && text[text.size() - 1] == '.' && text[text.size() - 2] == '.')
    text.pop_back();
}

}  // namespace oxm::transport
