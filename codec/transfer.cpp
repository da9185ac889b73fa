#include "codec/transfer.h"

#include <array>

namespace oxm {

namespace {

constexpr int kNotBase64 = -1;

constexpr std::array<int, 256> makeBase64Table() {
  std::array<int, 256> t{};
  for (int& v : t) v = kNotBase64;
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
  return t;
}
constexpr std::array<int, 256> kBase64 = makeBase64Table();

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte of "=XX" at in[i], or -1 when XX is not two hexadecimal digits or its value is 0.
int escapedByte(std::string_view in, size_t i) {
  if (i + 2 >= in.size()) return -1;
  const int hi = hexValue(in[i + 1]);
  const int lo = hexValue(in[i + 2]);
  if (hi < 0 || lo < 0) return -1;
  const int v = hi << 4 | lo;
  return v == 0 ? -1 : v;
}

// Uuencoding maps 0..63 to 0x20..0x5F; the grave accent also stands for 0.
int uuValue(char c) {
  if (c == '`') return 0;
  const int v = static_cast<unsigned char>(c) - 0x20;
  return v >= 0 && v <= 0x3F ? v : -1;
}

}  // namespace

std::string base64Decode(std::string_view in) {
  std::string out;
  out.reserve(in.size() / 4 * 3 + 3);
  unsigned acc = 0;
  int have = 0;
  for (const char c : in) {
    const int v = kBase64[static_cast<unsigned char>(c)];
    if (v == kNotBase64) continue;
    acc = acc << 6 | static_cast<unsigned>(v);
    if (++have == 4) {
      out += static_cast<char>(acc >> 16);
      out += static_cast<char>(acc >> 8 & 0xFF);
      out += static_cast<char>(acc & 0xFF);
      acc = 0;
      have = 0;
    }
  }
  if (have == 2) {
    out += static_cast<char>(acc >> 4);
  } else if (have == 3) {
    out += static_cast<char>(acc >> 10);
    out += static_cast<char>(acc >> 2 & 0xFF);
  }
  return out;
}

std::string qpDecode(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const char c = in[i];
    if (c != '=') {
      out += c;
      ++i;
      continue;
    }
    const char n1 = i + 1 < in.size() ? in[i + 1] : '\0';
    const char n2 = i + 2 < in.size() ? in[i + 2] : '\0';
    if (n1 == '\n') {  // soft line break: "=" LF, "=" LF CR
      i += n2 == '\r' ? 3 : 2;
    } else if (n1 == '\r' && n2 == '\n') {
      i += 3;
    } else if (const int byte = escapedByte(in, i); byte >= 0) {
      out += static_cast<char>(byte);
      i += 3;
    } else if (i + 2 < in.size()) {
      out += n1;  // not an escape: the "=" goes, the two characters stay
      out += n2;
      i += 3;
    } else {
      out += in.substr(i);  // "=" too near the end for an escape
      break;
    }
  }
  return out;
}

std::string qDecode(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=' && i + 2 < in.size() && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(in[i + 1]) << 4 | hexValue(in[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string replacePercent(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(in[i + 1]) << 4 | hexValue(in[i + 2]));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

bool uuDecode(std::string_view in, std::string* out) {
  const size_t begin = in.find("begin ");
  if (begin == std::string_view::npos) return false;
  out->clear();
  size_t pos = in.find('\n', begin);
  while (pos != std::string_view::npos && pos + 1 < in.size()) {
    const size_t start = pos + 1;
    const size_t end = std::min(in.find('\n', start), in.size());
    const std::string_view line = in.substr(start, end - start);
    pos = end < in.size() ? end : std::string_view::npos;
    if (line.empty() || line[0] == '`' || line[0] == ' ') break;
    const int count = static_cast<unsigned char>(line[0]) - 0x20;
    if (count < 1 || count > 45) break;
    const size_t needed = static_cast<size_t>((count + 2) / 3 * 4);
    if (line.size() - 1 < needed) break;  // the line holds fewer bytes than it announces
    std::string bytes;
    bool damaged = false;
    for (size_t g = 0; g < needed; g += 4) {
      int v[4];
      for (int k = 0; k < 4; ++k) {
        v[k] = uuValue(line[1 + g + static_cast<size_t>(k)]);
        if (v[k] < 0) damaged = true;
      }
      if (damaged) break;
      bytes += static_cast<char>(v[0] << 2 | v[1] >> 4);
      bytes += static_cast<char>((v[1] & 0xF) << 4 | v[2] >> 2);
      bytes += static_cast<char>((v[2] & 0x3) << 6 | v[3]);
    }
    if (damaged) break;
    out->append(bytes, 0, static_cast<size_t>(count));
  }
  return true;
}

void base64Encode(std::string_view in, std::string* out, size_t lineLength) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const size_t chars = (in.size() + 2) / 3 * 4;
  out->reserve(out->size() + chars + (lineLength ? chars / lineLength : 0));
  size_t column = 0;
  auto put = [&](char c) {
    if (lineLength && column == lineLength) {
      *out += '\n';
      column = 0;
    }
    *out += c;
    ++column;
  };
  size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1]) << 8 |
                       static_cast<unsigned char>(in[i + 2]);
    put(kAlphabet[v >> 18]);
    put(kAlphabet[v >> 12 & 0x3F]);
    put(kAlphabet[v >> 6 & 0x3F]);
    put(kAlphabet[v & 0x3F]);
  }
  if (i < in.size()) {
    const bool two = i + 1 < in.size();
    const unsigned v = static_cast<unsigned char>(in[i]) << 16 | (two ? static_cast<unsigned char>(in[i + 1]) << 8 : 0u);
    put(kAlphabet[v >> 18]);
    put(kAlphabet[v >> 12 & 0x3F]);
    put(two ? kAlphabet[v >> 6 & 0x3F] : '=');
    put('=');
  }
  // A last line that is exactly full gets its LF too.
  if (lineLength && column == lineLength) *out += '\n';
}

void qpEncode(std::string_view in, std::string* out) {
  constexpr size_t kMaxColumns = 72;
  static const char kHex[] = "0123456789ABCDEF";
  out->reserve(out->size() + in.size() + in.size() / 8);
  size_t column = 0;
  for (const char ch : in) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      *out += '\n';
      column = 0;
      continue;
    }
    // A "." alone at the start of a line would end the SMTP data (RFC 5321 section 4.5.2).
    bool escape = (c < 0x20 && c != '\t') || c == '=' || c >= 0x7F || (c == '.' && column == 0);
    if (column + (escape ? 3 : 1) > kMaxColumns) {
      *out += "=\n";
      column = 0;
      escape = escape || c == '.';
    }
    if (escape) {
      *out += '=';
      *out += kHex[c >> 4];
      *out += kHex[c & 0xF];
      column += 3;
    } else {
      *out += ch;
      column += 1;
    }
  }
}

}  // namespace oxm
