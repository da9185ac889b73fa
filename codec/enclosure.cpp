#include "codec/enclosure.h"

#include "codec/charset.h"
#include "codec/emlcompose.h"
#include "codec/header_decode.h"
#include "codec/line_ends.h"
#include "codec/text_util.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "frame/scope_guard.h"
#include "platform/fs.h"
#include "platform/memory.h"

namespace oxm {

namespace {

constexpr size_t kMaxPath = 256;

// Free physical memory must exceed twice the message, as for decoding.
bool enoughMemoryFor(size_t rawLength) {
  MEMORYSTATUS status{};
  GlobalMemoryStatus(&status);
  return status.dwAvailPhys > 2 * static_cast<uint64_t>(rawLength);
}

}  // namespace

unsigned decodeEnclosure(std::string* data, Enclosure* enc) {
  const std::wstring encoding = lowerAscii(enc->transferEncoding);
  if (encoding == L"quoted-printable") {
    *data = qpDecode(*data);
    if (!data->empty() && data->back() == '\n') data->pop_back();
    return replace0Ato0D0A_S(data);
  }
  if (encoding == L"base64") {
    *data = base64Decode(*data);
    return OXMDL_ERR_NONE;
  }
  if (encoding == L"x-uuencode") {
    std::string bytes;
    if (!uuDecode(*data, &bytes)) return OXMDL_ERR_MIME_DECODE;
    *data = std::move(bytes);
    return OXMDL_ERR_NONE;
  }
  if (encoding == L"7bit" && lowerAscii(enc->subtype) != L"html") toSJIS(data, std::wstring());
  return replace0Ato0D0A_S(data);
}

namespace {

// The feed picture path decodes only the three real transfer encodings (quoted-printable
// without the mail path's line-end changes); anything else only gets its CR LF back.
unsigned decodeFeedPart(std::string* body, Enclosure* part) {
  const std::wstring encoding = lowerAscii(part->transferEncoding);
  if (encoding == L"quoted-printable") {
    *body = qpDecode(*body);
    return OXMDL_ERR_NONE;
  }
  if (encoding == L"base64" || encoding == L"x-uuencode") return decodeEnclosure(body, part);
  return replace0Ato0D0A_S(body);
}

// How a part becomes a file: the mail rules of GetEnclosure, or the feed picture rules (a
// fixed scratch folder, an existing file replaced, the LF before the boundary left out, and only
// the three real transfer encodings decoded).
struct WriteRules {
  bool feed;
};

unsigned writePart(const std::string& raw, const Enclosure& enclosure, std::wstring folder, WriteRules rules) {
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  uint64_t freeBytes = 0;
  if (GetDiskFreeSpaceExW(folder, &freeBytes) && freeBytes < enclosure.bodyLength) return OXMDL_ERR_FILE_DISK_FULL;
  if (!enoughMemoryFor(raw.size())) return OXMDL_ERR_MEM_SHORTAGE;
  std::wstring path = folder + enclosure.name;
  if (rules.feed)
    DeleteFileW(path);
  else if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
    return OXMDL_ERR_MIME_FILE_EXISTS;
  std::string text;
  unsigned code = replace0D0Ato0A(raw, &text);
  if (code != OXMDL_ERR_NONE) return code;
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  File file;
  if (!file.openStream(path, "wb")) return OXMDL_ERR_FILE_OPEN;
  ScopeGuard removePartial([&] {
    file.close();
    DeleteFileW(path);
  });
  std::string body;
  size_t length = enclosure.bodyLength;
  if (rules.feed && length > 0) --length;
  if (length != 0 && enclosure.bodyOffset < text.size()) {
    body = text.substr(enclosure.bodyOffset, length);
    Enclosure part = enclosure;
    code = rules.feed ? decodeFeedPart(&body, &part) : decodeEnclosure(&body, &part);
    if (code != OXMDL_ERR_NONE) {
      // Only a part that does not decode leaves no file; other failures keep the empty one.
      if (code != OXMDL_ERR_MIME_DECODE) removePartial.dismiss();
      return code;
    }
  }
  if (!body.empty() && !file.write(body.data(), body.size())) return OXMDL_ERR_FILE_DISK_FULL;
  removePartial.dismiss();
  return OXMDL_ERR_NONE;
}

}  // namespace

unsigned feedImageToFile(const std::string& raw, const Enclosure& enclosure) {
  return writePart(raw, enclosure, kFeedPictureDir, WriteRules{true});
}

unsigned getEnclosure(const std::string& raw, const Enclosure& enclosure) {
  if (raw.rfind("X-Tmr-Rivulet", 0) == 0) {
    std::string kind;
    getHeaderField(raw, "X-Tmr-Rivulet", &kind);
    if (kind != "contents") return feedImageToFile(raw, enclosure);
  }
  if (enclosure.folder.empty()) return OXMDL_ERR_MIME_DECODE;
  return writePart(raw, enclosure, enclosure.folder, WriteRules{false});
}

}  // namespace oxm

bool EmlCompose::GetEnclosure(const std::string& raw, const Enclosure& enclosure) {
  const unsigned code = oxm::getEnclosure(raw, enclosure);
  SetOxMiddleError(code);
  return code == OXMDL_ERR_NONE;
}
