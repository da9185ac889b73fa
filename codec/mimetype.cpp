#include "codec/mimetype.h"

#include <algorithm>
#include <map>

#include "codec/emlcompose.h"
#include "codec/text_util.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"

namespace oxm {

namespace {

constexpr const char* kTypeRows[] = {
#include "codec/mimetype_table.inc"
};
static_assert(sizeof kTypeRows / sizeof kTypeRows[0] == 140);

constexpr std::string_view kSeparators = " \t\n\r";

// Extension as written in the table (case kept) -> type. Rows are taken in order, so an
// extension listed under several types keeps the last one.
std::map<std::string, std::string> buildExtensionMap() {
  std::map<std::string, std::string> map;
  for (const char* row : kTypeRows) {
    std::string_view rest(row);
    std::string type;
    while (!rest.empty()) {
      const size_t start = rest.find_first_not_of(kSeparators);
      if (start == std::string_view::npos) break;
      rest.remove_prefix(start);
      const size_t end = std::min(rest.find_first_of(kSeparators), rest.size());
      std::string token(rest.substr(0, end));
      rest.remove_prefix(end);
      if (type.empty())
        type = std::move(token);
      else
        map[std::move(token)] = type;
    }
  }
  return map;
}

const std::map<std::string, std::string>& extensionMap() {
  static const std::map<std::string, std::string> map = buildExtensionMap();
  return map;
}

}  // namespace

void loadExtensions() { extensionMap(); }

std::wstring mimeTypeId(const std::wstring& name) {
  if (!name.empty() && name[0] != L'/' && name.find(L'/') != std::wstring::npos) return lowerAscii(name);
  const size_t dot = name.rfind(L'.');
  std::string key;
  if (wideToMulti(dot == std::wstring::npos ? name : name.substr(dot + 1), &key) != OXMDL_ERR_NONE) key.clear();
  // A miss is not added to the map (the map stays the table's size however many names are
  // looked up); it gives the same empty type.
  const auto& map = extensionMap();
  const auto it = map.find(lowerAscii(key));
  std::wstring type;
  if (it != map.end()) multiToWide(it->second, &type);
  return type.empty() ? L"application/octet-stream" : type;
}

}  // namespace oxm

std::wstring EmlCompose::MimeTypeId(const std::wstring& name) { return oxm::mimeTypeId(name); }
