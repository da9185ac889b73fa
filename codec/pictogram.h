// The device's own pictograms travel as text tags ("<#HEART>") in bodies of type
// text/x-pmaildx. The table of codes and tags is pictogram_table.inc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace oxm {

struct Pictogram {
  uint16_t code;  // Shift_JIS, lead byte in the high half
  std::string_view tag;
};

// The 163 rows in table order.
const Pictogram* pictogramTable(size_t* count);
// Nullptr when the code or tag is not in the table.
const Pictogram* pictogramByCode(uint16_t code);
const Pictogram* pictogramByTag(std::string_view tag);

// Received text/x-pmaildx text: every tag of the table becomes its code in the system code page
// (two Shift_JIS bytes, or under 65001 the UTF-8 of its private-use character), "<<" becomes
// "<". Stops at a zero byte.
std::string decodePictogramTags(const std::string& text);

// Outgoing text: when it holds at least one own pictogram, each one in the table becomes its
// tag, others are copied, and every "<" is doubled so that it cannot read as a tag. Returns the
// number of pictograms written as tags; *out is untouched when that is 0, or when the heap
// probe fails (then *code is OXMDL_ERR_MEM_SHORTAGE).
int encodePictogramTags(const std::string& sjis, std::string* out, unsigned* code);
// The same on wide text, for text that goes out as UTF-8: the private-use characters of the
// table become tags. *out is untouched when there is none.
int encodePictogramTags(const std::wstring& text, std::wstring* out);

}  // namespace oxm
