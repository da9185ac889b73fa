#include "transport/dotstuff.h"

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
  size_t to = 0;
  char before = 0, last = 0;  // the two bytes of the original text before `from`
  for (size_t from = 0; from < text.size(); ++from) {
    char c = text[from];
    text[to++] = c;
    // "\r\n..": keep the first dot, skip the second.
    bool skip = c == '.' && before == '\r' && last == '\n' && from + 1 < text.size() &&
                text[from + 1] == '.';
    before = last;
    last = c;
    if (skip) {
      ++from;
      before = last;
      last = '.';
    }
  }
  text.resize(to);
  if (text.size() >= 2 && text[text.size() - 1] == '.' && text[text.size() - 2] == '.')
    text.pop_back();
}

}  // namespace oxm::transport
