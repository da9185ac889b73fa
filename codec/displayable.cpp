#include "codec/displayable.h"

#include <bitset>

#include "codec/charset.h"
#include "codec/sjis.h"
#include "platform/codepage.h"

namespace oxm {

namespace {

constexpr char kGeta[] = "\x81\xAC";

// One flag per (lead, trail) of the leads 0x81..0x9F and 0xE0..0xEF: whether the system code
// page converts the pair to UTF-16 when asked to fail on invalid characters. Built once per
// process (thread-safe static initialisation) and never freed.
class ValidityTable {
 public:
  ValidityTable() {
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
      if (lead >= 0xA0 && lead < 0xE0) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        wchar_t w[2];
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pair, 2, w, 2) > 0) flags_.set(index(lead, trail));
      }
    }
  }
  bool valid(unsigned lead, unsigned trail) const {
    const bool inTable = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF);
    return inTable && flags_.test(index(lead, trail));
  }

 private:
  static size_t index(unsigned lead, unsigned trail) {
    return (lead < 0xA0 ? lead - 0x80 : lead - 0xC0) * 256 + trail;
  }
  std::bitset<16384> flags_;
};

const ValidityTable& validityTable() {
  static const ValidityTable table;
  return table;
}

}  // namespace

void replaceUndisplayable(std::string* text) {
  // UTF-8 text has no undefined pairs: a bad sequence becomes U+FFFD when it turns wide.
  if (systemIsUtf8()) return;
  std::string& t = *text;
  const ValidityTable& table = validityTable();
  for (size_t i = 0; i < t.size();) {
    const unsigned char lead = static_cast<unsigned char>(t[i]);
    if (!isSjisLead(lead)) {
      ++i;
      continue;
    }
    if (i + 1 >= t.size() || t[i + 1] == '\0') break;
    const unsigned char trail = static_cast<unsigned char>(t[i + 1]);
    const bool keep = isOwnPictogramLead(lead) ? isSjisTrail(trail) : table.valid(lead, trail);
    if (!keep) {
      t[i] = kGeta[0];
      t[i + 1] = kGeta[1];
    }
    i += 2;
  }
}

}  // namespace oxm
