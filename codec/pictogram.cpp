#include "codec/pictogram.h"

#include <algorithm>

#include "codec/heap_probe.h"
#include "codec/sjis.h"
#include "frame/oxerror.h"
#include "platform/codepage.h"

namespace oxm {

namespace {

constexpr Pictogram kPictograms[] = {
#define OXM_PICTOGRAM(code, tag) {code, std::string_view(tag, sizeof(tag) - 1)},
#include "codec/pictogram_table.inc"
#undef OXM_PICTOGRAM
};
constexpr size_t kPictogramCount = sizeof kPictograms / sizeof kPictograms[0];
static_assert(kPictogramCount == 163);

// A tag is looked up among at most 25 bytes after its "<".
constexpr size_t kTagReach = 25;
// Room for one tag in place of a two-byte pictogram, when sizing the encoded buffer.
constexpr size_t kTagRoom = 12;

// Where the ">" of a tag starting at text[lt] stands: within kTagReach bytes, with no other
// "<" before it and a "#" in between; npos otherwise.
size_t tagEnd(const std::string& text, size_t lt, size_t end) {
  bool hash = false;
  const size_t limit = std::min(end, lt + 1 + kTagReach);
  for (size_t i = lt + 1; i < limit; ++i) {
    const char c = text[i];
    if (c == '>') return hash ? i : std::string::npos;
    if (c == '<' || c == '\0') return std::string::npos;
    if (c == '#') hash = true;
  }
  return std::string::npos;
}

// The pictogram's code in the system code page: its two Shift_JIS bytes, or under 65001 the
// UTF-8 form of the private-use character the code stands for (0xF040 is U+E000).
std::string pictogramBytes(uint16_t code) {
  const char sjis[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  if (GetACP() != CP_UTF8) return std::string(sjis, 2);
  wchar_t w = 0;
  if (MultiByteToWideChar(CP_932, MB_ERR_INVALID_CHARS, sjis, 2, &w, 1) != 1) return std::string(sjis, 2);
  char utf8[4];
  const int n = WideCharToMultiByte(CP_UTF8, 0, &w, 1, utf8, sizeof utf8, nullptr, nullptr);
  return std::string(utf8, n > 0 ? static_cast<size_t>(n) : 0);
}

// The table row of a wide character, when it is one of the device's own pictograms.
const Pictogram* pictogramOfChar(wchar_t c) {
  if (c < 0xE000 || c > 0xE757) return nullptr;
  char sjis[2];
  if (WideCharToMultiByte(CP_932, MB_ERR_INVALID_CHARS, &c, 1, sjis, 2, nullptr, nullptr) != 2) return nullptr;
  const unsigned char lead = static_cast<unsigned char>(sjis[0]);
  const unsigned char trail = static_cast<unsigned char>(sjis[1]);
  return isOwnPictogram(lead, trail) ? pictogramByCode(static_cast<uint16_t>(lead << 8 | trail)) : nullptr;
}

}  // namespace

const Pictogram* pictogramTable(size_t* count) {
  *count = kPictogramCount;
  return kPictograms;
}

const Pictogram* pictogramByCode(uint16_t code) {
  for (const Pictogram& p : kPictograms)
    if (p.code == code) return &p;
  return nullptr;
}

const Pictogram* pictogramByTag(std::string_view tag) {
  for (const Pictogram& p : kPictograms)
    if (p.tag == tag) return &p;
  return nullptr;
}

std::string decodePictogramTags(const std::string& text) {
  const size_t zero = text.find('\0');
  const size_t n = zero == std::string::npos ? text.size() : zero;
  std::string out;
  out.reserve(n);
  size_t i = 0;
  // The last byte is copied as it is: no tag can start there.
  while (i + 1 < n) {
    if (text[i] != '<') {
      out += text[i++];
      continue;
    }
    const size_t gt = tagEnd(text, i, n);
    if (gt != std::string::npos) {
      std::string tag;
      for (size_t k = i; k <= gt; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c >= 0x20 && c <= 0x7E) tag += static_cast<char>(c);
      }
      if (const Pictogram* p = pictogramByTag(tag)) {
        out += pictogramBytes(p->code);
        i = gt + 1;
        continue;
      }
      out += '<';  // no such tag: the text stays as it is
      ++i;
      continue;
    }
    out += '<';
    // "<<" is an escaped "<": the second one is not written unless it starts a tag itself.
    if (text[i + 1] == '<' && tagEnd(text, i + 1, n) == std::string::npos)
      i += 2;
    else
      i += 1;
  }
  if (i < n) out += text[i];
  return out;
}

int encodePictogramTags(const std::string& sjis, std::string* out, unsigned* code) {
  *code = OXMDL_ERR_NONE;
  size_t pictograms = 0;
  size_t lts = 0;
  for (size_t i = 0; i < sjis.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(sjis[i]);
    if (i + 1 < sjis.size() && isSjisLead(b) && isSjisTrail(static_cast<unsigned char>(sjis[i + 1]))) {
      if (isOwnPictogram(b, static_cast<unsigned char>(sjis[i + 1]))) ++pictograms;
      ++i;
    } else if (b == '<') {
      ++lts;
    }
  }
  if (pictograms == 0) return 0;
  const size_t room = sjis.size() + lts + kTagRoom * pictograms;
  *code = heapProbe(room);
  if (*code != OXMDL_ERR_NONE) return 0;
  std::string tagged;
  tagged.reserve(room);
  int replaced = 0;
  for (size_t i = 0; i < sjis.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(sjis[i]);
    if (i + 1 < sjis.size() && isSjisLead(b) && isSjisTrail(static_cast<unsigned char>(sjis[i + 1]))) {
      const unsigned char trail = static_cast<unsigned char>(sjis[i + 1]);
      const Pictogram* p = isOwnPictogram(b, trail) ? pictogramByCode(static_cast<uint16_t>(b << 8 | trail)) : nullptr;
      if (p) {
        tagged += p->tag;
        ++replaced;
      } else {
        tagged += static_cast<char>(b);
        tagged += static_cast<char>(trail);
      }
      ++i;
    } else {
      tagged += static_cast<char>(b);
      if (b == '<') tagged += '<';
    }
  }
  *out = std::move(tagged);
  return replaced;
}

}  // namespace oxm

namespace oxm {

int encodePictogramTags(const std::wstring& text, std::wstring* out) {
  int pictograms = 0;
  for (const wchar_t c : text)
    if (pictogramOfChar(c)) ++pictograms;
  if (pictograms == 0) return 0;
  std::wstring tagged;
  tagged.reserve(text.size() + kTagRoom * static_cast<size_t>(pictograms));
  for (const wchar_t c : text) {
    if (const Pictogram* p = pictogramOfChar(c)) {
      tagged.append(p->tag.begin(), p->tag.end());
    } else {
      tagged += c;
      if (c == L'<') tagged += L'<';
    }
  }
  *out = std::move(tagged);
  return pictograms;
}

}  // namespace oxm
