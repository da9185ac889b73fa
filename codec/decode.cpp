#include "codec/decode.h"

#include <algorithm>

#include "codec/address.h"
#include "codec/email.h"
#include "codec/emlcompose.h"
#include "codec/header_decode.h"
#include "codec/header_lines.h"
#include "codec/html_creater.h"
#include "codec/line_ends.h"
#include "codec/mime_walk.h"
#include "codec/report.h"
#include "codec/text_util.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/memory.h"

namespace oxm {

namespace {

constexpr uint64_t kMinFreeMemory = 1048576;
constexpr int kDefaultSummaryChars = 281;

// The body of a message that the retriever cut off for its size.
constexpr wchar_t kOversizeNotice[] =
    L"このメッセージは受信可能な容量を超えているため受信できません。\r\n\r\n注意：\r\n"
    L"サイズが3MBを超える(添付データを含む)メッセージは受信できません。";

DWORD availPhys() {
  MEMORYSTATUS status{};
  GlobalMemoryStatus(&status);
  return status.dwAvailPhys;
}

// The header block of a stored message: up to the first CR LF CR LF (all of it without one),
// with LF line ends.
std::string headerBlock(const std::string& raw) {
  std::string header;
  replace0D0Ato0A(std::string_view(raw).substr(0, raw.find("\r\n\r\n")), &header);
  return header;
}

unsigned decodeMessage(Email* out, const std::string* raw, bool summary) {
  if (!out || !raw) return OXMDL_ERR_MIME_NULL_ARG;
  std::string text;
  unsigned code = convertDecodeData(*raw, &text);
  if (code != OXMDL_ERR_NONE) return code;
  clearEmail(out);
  out->summaryOnly = summary;
  return decodeCore(out, text, 0);
}

// Where the Date line of a stored message stands: the line after "\nDate:" up to and including
// its LF. npos when there is none.
size_t dateLineStart(const std::string& raw) {
  const size_t at = raw.find("\nDate:");
  return at == std::string::npos ? at : at + 1;
}

}  // namespace

void clearEmail(Email* email) {
  Email cleared;
  cleared.appData = std::move(email->appData);
  cleared.senderLabel = std::move(email->senderLabel);
  cleared.relatedFiles = std::move(email->relatedFiles);
  *email = std::move(cleared);
}

unsigned convertDecodeData(const std::string& raw, std::string* text) {
  const uint64_t need = std::max<uint64_t>(2 * static_cast<uint64_t>(raw.size()), kMinFreeMemory);
  if (availPhys() <= need) return OXMDL_ERR_MEM_SHORTAGE;
  return replace0D0Ato0A(raw, text);
}

unsigned decodeCore(Email* email, const std::string& text, int depth) {
  size_t pos = 0;
  bool oversize = false;
  unsigned code = parseHeader(text, &pos, email, &oversize);
  if (code != OXMDL_ERR_NONE) return code;
  // The top part's MIME header is the message header, so the walk starts at the top again.
  if (text.find("\n\n") != std::string::npos) code = parseBody(email, text, 0, depth);
  if (code != OXMDL_ERR_NONE) return code;
  if (oversize && email->body.empty()) {
    email->body = kOversizeNotice;
    email->enclosures.clear();
  }
  if (email->feedMessage) HtmlCreater().CreateHtml(*email);
  return OXMDL_ERR_NONE;
}

unsigned getHeaderField(const std::string& raw, const std::string& name, std::string* out) {
  if (!out) return OXMDL_ERR_MIME_NULL_ARG;
  const std::string key = !name.empty() && name.back() == ':' ? name : name + ":";
  const std::string header = headerBlock(raw);
  size_t pos = 0;
  std::string_view line;
  while (readHeaderLine(header, &pos, &line)) {
    if (!startsWithNoCase(line, key)) continue;
    *out = trimBlanks(decodeEncodedWords(unfold(headerValue(line, key.size()), Unfold::Join), false));
    return OXMDL_ERR_NONE;
  }
  return OXMDL_ERR_MIME_NO_HEADER;
}

}  // namespace oxm

using namespace oxm;

bool EmlCompose::Decode(Email* out, const std::string* raw) { return reportCode(decodeMessage(out, raw, false)); }

bool EmlCompose::DecodeForSave(Email* out, std::string* raw) {
  NKDbgPrintfW(L" === Memory Info === ");
  NKDbgPrintfW(L"(Decode_F start) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  NKDbgPrintfW(L"(Decode_F_Core start) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  const unsigned code = decodeMessage(out, raw, false);
  if (code == OXMDL_ERR_NONE && !out->synthesizedDate.empty()) {
    const size_t start = dateLineStart(*raw);
    if (start == std::string::npos) {
      raw->insert(0, out->synthesizedDate);
    } else {
      const size_t lf = raw->find('\n', start);
      raw->replace(start, lf == std::string::npos ? std::string::npos : lf + 1 - start, out->synthesizedDate);
    }
  }
  NKDbgPrintfW(L"(Decode_F end) dwAvailPhys:[%d]\r\n", static_cast<int>(availPhys()));
  return reportCode(code);
}

bool EmlCompose::DecodeSimple(Email* out, const std::string* raw, int maxBodyChars) {
  const unsigned code = decodeMessage(out, raw, true);
  if (code == OXMDL_ERR_NONE)
    cutToUtf16Units(&out->body, static_cast<size_t>(maxBodyChars < 0 ? kDefaultSummaryChars : maxBodyChars));
  return reportCode(code);
}

bool EmlCompose::DecodeHeader(Email* out, const std::string* raw) {
  if (!out || !raw) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  const std::string header = headerBlock(*raw);
  clearEmail(out);
  size_t pos = 0;
  bool oversize = false;
  return reportCode(parseHeader(header, &pos, out, &oversize));
}

bool EmlCompose::GetHeader(const std::string& raw, std::string* out) {
  if (!out) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return reportCode(OXMDL_ERR_MIME_NO_HEADER);
  *out = raw.substr(0, end);
  return reportCode(OXMDL_ERR_NONE);
}

bool EmlCompose::GetHeaderField(const std::string& raw, const std::string& name, std::string* out) {
  return reportCode(getHeaderField(raw, name, out));
}

bool EmlCompose::ParseAddress(const std::wstring& in, std::wstring* address, std::wstring* name) {
  if (!address || !name) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  parseSingleAddress(in, address, name);
  return reportCode(OXMDL_ERR_NONE);
}

bool EmlCompose::ParseAddress_S(const std::string& in, std::string* address, std::string* name) {
  if (!address || !name) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  parseSingleAddress(in, address, name);
  return reportCode(OXMDL_ERR_NONE);
}

unsigned long EmlCompose::GetErrorInfo() { return GetOxMiddleError(); }
