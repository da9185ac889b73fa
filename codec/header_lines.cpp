#include "codec/header_lines.h"

#include <cstring>

#include "codec/charset.h"
#include "codec/text_util.h"
#include "codec/transfer.h"

namespace oxm {

namespace {

// A run of adjacent encoded words of one charset and encoding, converted together. Each word
// is transfer-decoded alone (a Base64 word ends with its own padding, RFC 2047 section 4.1) and
// the bytes are joined, so that a character split across words comes out whole.
struct Run {
  std::string charset;  // lower case, RFC 2231 language suffix removed
  char encoding = 0;    // 'b' or 'q'; 0 when there is no run
  std::string bytes;

  void add(std::string_view text) { bytes += encoding == 'b' ? base64Decode(text) : qDecode(text); }

  void flushTo(std::string* out) {
    if (encoding == 0) return;
    // Decoded into a zero-filled buffer on the device: the text ends at its first zero byte.
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    namedToSJIS(&bytes, charset);
    *out += bytes;
    encoding = 0;
    bytes.clear();
  }
};

// Raw text between or after encoded words: a UTF-8 piece is read as UTF-8 (and under 65001
// any 8-bit piece as unlabelled text), so that it matches the decoded words beside it.
void appendRaw(std::string* out, std::string_view piece) {
  std::string text(piece);
  if (systemIsUtf8() || isMultibyteUtf8(text)) unlabelledHeaderToSystem(&text);
  *out += text;
}

}  // namespace

bool readHeaderLine(std::string_view text, size_t* pos, std::string_view* line) {
  const size_t n = text.size();
  size_t p = *pos;
  if (p >= n) return false;
  if (text[p] == '\n') {
    *pos = p + 1;
    return false;
  }
  size_t end = p;
  for (;;) {
    const void* lf = std::memchr(text.data() + end, '\n', n - end);
    if (!lf) {
      end = n;
      break;
    }
    end = static_cast<size_t>(static_cast<const char*>(lf) - text.data());
    if (end + 1 < n && isBlankOrTab(text[end + 1])) {
      ++end;
      continue;
    }
    break;
  }
  *line = trimBlanks(text.substr(p, end - p));
  *pos = end < n ? end + 1 : n;
  return true;
}

std::string unfold(std::string_view value, Unfold mode) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\n' && i + 1 < value.size() && isBlankOrTab(value[i + 1])) {
      if (mode == Unfold::Join) out += ' ';
      ++i;
      continue;
    }
    out += value[i];
  }
  return out;
}

std::string_view headerValue(std::string_view line, size_t prefixLength) {
  return trimBlanks(line.substr(std::min(prefixLength, line.size())));
}

std::string decodeEncodedWords(std::string_view value, bool blankRule) {
  std::string out;
  Run run;
  size_t pos = 0;
  bool anyWord = false;
  for (;;) {
    const size_t start = value.find("=?", pos);
    if (start == std::string_view::npos) break;
    const std::string_view between = trimBlanks(value.substr(pos, start - pos));
    if (!between.empty()) {
      run.flushTo(&out);
      appendRaw(&out, between);
      if (blankRule && between.back() != ' ') out += ' ';
    }
    const size_t q1 = value.find('?', start + 2);
    const size_t q2 = q1 == std::string_view::npos ? q1 : value.find('?', q1 + 1);
    const size_t end = q2 == std::string_view::npos ? q2 : value.find("?=", q2 + 1);
    if (end == std::string_view::npos) {
      run.flushTo(&out);
      appendRaw(&out, value.substr(start));
      pos = value.size();
      break;
    }
    anyWord = true;
    const std::string_view encoding = value.substr(q1 + 1, q2 - q1 - 1);
    const char letter = encoding.size() == 1 ? lowerAsciiChar(encoding[0]) : 0;
    if (letter != 'b' && letter != 'q') {
      run.flushTo(&out);
      out += value.substr(start, end + 2 - start);
    } else {
      std::string charset = lowerAscii(std::string(value.substr(start + 2, q1 - start - 2)));
      charset = charset.substr(0, charset.find('*'));  // RFC 2231 section 5: charset*language
      if (run.encoding != letter || run.charset != charset) {
        run.flushTo(&out);
        run.charset = std::move(charset);
        run.encoding = letter;
      }
      run.add(value.substr(q2 + 1, end - q2 - 1));
    }
    pos = end + 2;
  }
  run.flushTo(&out);
  if (!anyWord) {
    out += value.substr(pos);
    unlabelledHeaderToSystem(&out);
  } else {
    appendRaw(&out, value.substr(pos));
  }
  return out;
}

}  // namespace oxm
