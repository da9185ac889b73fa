// Byte classes of Shift_JIS text as the codec sees it: double-byte leads and trails, half-width
// katakana, the carrier's pictograms (passed through every conversion untouched) and the
// device's own pictograms (sent as text tags).
#pragma once

#include <cstdint>

namespace oxm {

inline bool isSjisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline bool isSjisTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
inline bool isHalfKana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

inline bool isCarrierPictogram(unsigned char lead, unsigned char trail) {
  const unsigned code = static_cast<unsigned>(lead) << 8 | trail;
  return (code >= 0xF89F && code <= 0xF8FC) || (code >= 0xF940 && code <= 0xF949) ||
         (code >= 0xF950 && code <= 0xF952) || (code >= 0xF955 && code <= 0xF957) ||
         (code >= 0xF95B && code <= 0xF95E) || (code >= 0xF972 && code <= 0xF97E) ||
         (code >= 0xF980 && code <= 0xF9FC);
}

inline bool isOwnPictogramLead(unsigned char b) { return b == 0xF0 || b == 0xF1 || (b >= 0xF4 && b <= 0xFC); }

inline bool isOwnPictogram(unsigned char lead, unsigned char trail) {
  return isOwnPictogramLead(lead) && isSjisTrail(trail) && !isCarrierPictogram(lead, trail);
}

}  // namespace oxm
