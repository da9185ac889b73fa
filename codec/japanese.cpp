#include "codec/japanese.h"

#include <cstdint>

#include "codec/sjis.h"

namespace oxm {

namespace {

constexpr unsigned char ESC = 0x1B;
constexpr unsigned char SO = 0x0E;
constexpr unsigned char SI = 0x0F;

// JIS X 0208 row/cell to Shift_JIS and back by the usual arithmetic. Bytes outside the JIS
// range give whatever the arithmetic gives; the callers only feed it what they meant to.
void jisToSjisPair(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2) {
  *s1 = static_cast<unsigned char>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
  if (j1 & 1)
    *s2 = static_cast<unsigned char>(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
  else
    *s2 = static_cast<unsigned char>(j2 + 0x7E);
}

void sjisToJisPair(unsigned char s1, unsigned char s2, unsigned char* j1, unsigned char* j2) {
  unsigned row = static_cast<unsigned>(s1 - (s1 >= 0xE0 ? 0xB0 : 0x70)) << 1;
  if (s2 < 0x9F) {
    --row;
    *j2 = static_cast<unsigned char>(s2 - (s2 >= 0x80 ? 0x20 : 0x1F));
  } else {
    *j2 = static_cast<unsigned char>(s2 - 0x7E);
  }
  *j1 = static_cast<unsigned char>(row);
}

// Full-width Shift_JIS forms of the half-width katakana 0xA1..0xDF.
constexpr uint16_t kFullWidthKana[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};
constexpr unsigned char kVoiced = 0xDE;
constexpr unsigned char kSemiVoiced = 0xDF;
constexpr uint16_t kFullWidthVu = 0x8394;

// The full-width form of the half-width katakana at text[i], merging a following (semi-)voiced
// mark where the full-width set has the combined letter; *used is 1 or 2.
uint16_t fullWidthKana(const std::string& text, size_t i, size_t* used) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
  const uint16_t base = kFullWidthKana[b - 0xA1];
  *used = 1;
  const bool kaToTo = b >= 0xB6 && b <= 0xC4;  // カ..ト
  const bool haToHo = b >= 0xCA && b <= 0xCE;  // ハ..ホ
  if (next == kVoiced && (kaToTo || haToHo)) {
    *used = 2;
    return static_cast<uint16_t>(base + 1);
  }
  if (next == kVoiced && b == 0xB3) {  // ウ
    *used = 2;
    return kFullWidthVu;
  }
  if (next == kSemiVoiced && haToHo) {
    *used = 2;
    return static_cast<uint16_t>(base + 2);
  }
  return base;
}

bool isPairAt(const std::string& t, size_t i, unsigned char lo1, unsigned char hi1, unsigned char lo2,
              unsigned char hi2) {
  if (i + 1 >= t.size()) return false;
  const unsigned char a = static_cast<unsigned char>(t[i]);
  const unsigned char b = static_cast<unsigned char>(t[i + 1]);
  return a >= lo1 && a <= hi1 && b >= lo2 && b <= hi2;
}

}  // namespace

JapaneseEncoding detectEncoding(const std::string& text, bool htmlVariant) {
  JapaneseEncoding result = JapaneseEncoding::Ascii;
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : 0;
    const bool hasNext = i + 1 < n;
    if (b == ESC && (next == '$' || next == '(')) {
      if (result == JapaneseEncoding::Ascii) return JapaneseEncoding::Jis;
      i += 2;
    } else if (b >= 0x20 && b <= 0x7E) {
      i += 1;
    } else if (hasNext && isCarrierPictogram(b, next)) {
      if (!htmlVariant) result = JapaneseEncoding::ShiftJis;
      i += 2;
    } else if (isPairAt(text, i, 0xA1, 0xFE, 0xA1, 0xFE)) {
      if (result != JapaneseEncoding::ShiftJis)
        result = JapaneseEncoding::EucJp;
      else if (!(isSjisLead(b) && isSjisTrail(next)))
        result = b <= 0xDF ? JapaneseEncoding::ShiftJis : JapaneseEncoding::EucJp;
      i += 2;
    } else if (hasNext && isSjisLead(b) && isSjisTrail(next)) {
      if (b != 0x8E || !isHalfKana(next)) return JapaneseEncoding::ShiftJis;
      result = JapaneseEncoding::ShiftJis;
      i += 2;
    } else {
      if (isHalfKana(b)) result = JapaneseEncoding::ShiftJis;
      i += 1;
    }
  }
  return result;
}

void jisToSjis(std::string* text) {
  enum class Mode { Ascii, Double, Kana } mode = Mode::Ascii;
  std::string& t = *text;
  const size_t n = t.size();
  size_t out = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(t[i]);
    if (b == ESC && i + 2 < n) {
      const char c1 = t[i + 1];
      const char c2 = t[i + 2];
      bool known = true;
      if (c1 == '$' && (c2 == 'B' || c2 == '@'))
        mode = Mode::Double;
      else if (c1 == '(' && (c2 == 'B' || c2 == 'J'))
        mode = Mode::Ascii;
      else if (c1 == '(' && c2 == 'I')
        mode = Mode::Kana;
      else
        known = false;
      if (known) {
        i += 3;
        continue;
      }
    }
    if (b == SO || b == SI) {
      mode = b == SO ? Mode::Kana : Mode::Ascii;
      i += 1;
      continue;
    }
    if (mode == Mode::Double && b >= 0x21 && i + 1 < n) {
      const unsigned char b2 = static_cast<unsigned char>(t[i + 1]);
      unsigned char s1 = b;
      unsigned char s2 = b2;
      if (!isCarrierPictogram(b, b2)) jisToSjisPair(b, b2, &s1, &s2);
      t[out++] = static_cast<char>(s1);
      t[out++] = static_cast<char>(s2);
      i += 2;
      continue;
    }
    if (mode == Mode::Kana && b >= 0x21 && b <= 0x5F)
      t[out++] = static_cast<char>(b + 0x80);
    else
      t[out++] = static_cast<char>(b);
    i += 1;
  }
  t.resize(out);
}

// EUC-JP is JIS + 0x80 on both bytes. Two forms have no JIS X 0208 pair: SS2 (0x8E) carries
// one half-width katakana, written as its single Shift_JIS byte; SS3 (0x8F) carries a JIS X
// 0212 character, which Shift_JIS cannot hold, written as the geta mark.
void eucToSjis(std::string* text) {
  std::string& t = *text;
  const size_t n = t.size();
  size_t out = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(t[i]);
    if (b < 0x80 || i + 1 >= n) {
      t[out++] = static_cast<char>(b);
      i += 1;
      continue;
    }
    const unsigned char b2 = static_cast<unsigned char>(t[i + 1]);
    if (b == 0x8E && isHalfKana(b2)) {
      t[out++] = static_cast<char>(b2);
      i += 2;
    } else if (b == 0x8F && i + 2 < n) {
      t[out++] = '\x81';
      t[out++] = '\xAC';
      i += 3;
    } else {
      unsigned char s1, s2;
      jisToSjisPair(static_cast<unsigned char>(b - 0x80), static_cast<unsigned char>(b2 - 0x80), &s1, &s2);
      t[out++] = static_cast<char>(s1);
      t[out++] = static_cast<char>(s2);
      i += 2;
    }
  }
  t.resize(out);
}

std::string sjisToEuc(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (i + 1 < text.size() && isSjisLead(b) && isSjisTrail(static_cast<unsigned char>(text[i + 1]))) {
      unsigned char j1, j2;
      sjisToJisPair(b, static_cast<unsigned char>(text[i + 1]), &j1, &j2);
      out += static_cast<char>(j1 + 0x80);
      out += static_cast<char>(j2 + 0x80);
      i += 2;
    } else if (isHalfKana(b)) {
      out += '\x8E';
      out += static_cast<char>(b);
      i += 1;
    } else {
      out += static_cast<char>(b);
      i += 1;
    }
  }
  return out;
}

std::string sjisToIso2022jp(const std::string& text) {
  static const char kToDouble[] = "\x1b$B";
  static const char kToAscii[] = "\x1b(B";
  std::string out;
  out.reserve(3 * text.size() + 5);
  bool jis = false;
  auto putJis = [&](unsigned char s1, unsigned char s2) {
    if (!jis) out += kToDouble;
    jis = true;
    unsigned char j1, j2;
    sjisToJisPair(s1, s2, &j1, &j2);
    out += static_cast<char>(j1);
    out += static_cast<char>(j2);
  };
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (i + 1 < text.size() && isSjisLead(b) && isSjisTrail(next)) {
      if (isCarrierPictogram(b, next)) {
        if (jis) out += kToAscii;
        jis = false;
        out += static_cast<char>(b);
        out += static_cast<char>(next);
      } else {
        putJis(b, next);
      }
      i += 2;
    } else if (isHalfKana(b)) {
      size_t used = 1;
      const uint16_t full = fullWidthKana(text, i, &used);
      putJis(static_cast<unsigned char>(full >> 8), static_cast<unsigned char>(full & 0xFF));
      i += used;
    } else {
      if (jis) out += kToAscii;
      jis = false;
      out += static_cast<char>(b);
      i += 1;
    }
  }
  if (jis) out += kToAscii;
  return out;
}

}  // namespace oxm
