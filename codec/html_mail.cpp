#include "codec/html_mail.h"

#include "codec/decode.h"
#include "codec/emlcompose.h"
#include "codec/enclosure.h"
#include "codec/encode_fields.h"
#include "codec/html_creater.h"
#include "codec/line_ends.h"
#include "codec/report.h"
#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/debug.h"
#include "platform/fs.h"

namespace oxm {

namespace {

// The template is replaced through a temporary file, so that a failed save keeps the old one.
unsigned writeTemplateFile(const std::wstring& path, const std::string& text) {
  preOpenCheck(path);
  const unsigned code = writeTemporary(path, text.data(), text.size());
  if (code == OXMDL_ERR_STG_PRIM_OPEN) return OXMDL_ERR_FILE_OPEN;
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_FILE_DISK_FULL;
  if (commitReplacement(path) != OXMDL_ERR_NONE) {
    DeleteFileW(temporaryPath(path));
    return OXMDL_ERR_FILE_OPEN;
  }
  return OXMDL_ERR_NONE;
}

unsigned readTemplateFile(const std::wstring& path, std::string* text) {
  preOpenCheck(path);  // a save cut short leaves the old or the new template in place
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return OXMDL_ERR_HTML_NO_TEMPLATE;
  File file;
  uint64_t size = 0;
  if (!file.openStream(path, "rb") || !file.size(&size)) return OXMDL_ERR_FILE_OPEN;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size != 0 && !file.readAll(bytes.data(), bytes.size())) return OXMDL_ERR_FILE_OPEN;
  const size_t zero = bytes.find('\0');
  if (zero != std::string::npos) bytes.resize(zero);
  *text = std::move(bytes);
  return OXMDL_ERR_NONE;
}

}  // namespace

void makeHtmlTemplateBodyField(std::string* out, const Email& mail) {
  *out += "Content-Type: text/html; charset=\"shift_jis\"\nContent-Transfer-Encoding: 8bit\n\n";
  *out += sendingText(lfText(mail.htmlBody));
}

unsigned encodeHtmlTemplate(Email* mail, std::string* out) {
  NKDbgPrintfW(L"EmlCompose::EncodeHtmlTemplate()\r\n");
  std::string text = std::string(kTemplateMagic) + "\nMime-Version: 1.0\n";
  MimeFlags flags;
  flags.first = false;  // no preamble
  addMimeHeader(&text, "mixed", kMixedBoundary, &flags);
  makeHtmlTemplateBodyField(&text, *mail);
  unsigned code = encodeMimeFiles(&text, kMixedBoundary, mail->relatedFiles, true);
  if (code == OXMDL_ERR_NONE) code = encodeMimeFiles(&text, kMixedBoundary, mail->enclosures, false);
  if (code != OXMDL_ERR_NONE) return code;
  addBoundary(&text, kMixedBoundary, true);
  code = replace0Ato0D0A_S(&text);
  if (code != OXMDL_ERR_NONE) {
    out->clear();
    return code;
  }
  *out = std::move(text);
  for (Enclosure& file : mail->relatedFiles) file.inlineDisposition = true;
  NKDbgPrintfW(L"EmlCompose::EncodeHtmlTemplate() end\r\n");
  return OXMDL_ERR_NONE;
}

unsigned decodeHtmlTemplate(Email* mail, const std::string& text) {
  if (text.rfind(std::string(kTemplateMagic) + "\n", 0) != 0) return kNotATemplate;
  // The magic line is an unknown header line to the decoder, and skipped.
  return decodeCore(mail, text, 0);
}

bool makeHtmlField(std::string& out, Email* mail) {
  std::string part;
  const bool related = !mail->relatedFiles.empty();
  if (related) {
    MimeFlags flags;
    flags.first = false;
    addMimeHeader(&part, "related", kFeedRelatedBoundary, &flags);
  }
  unsigned code = makeFeedHtmlBodyField(&part, *mail);
  if (code == OXMDL_ERR_NONE && related) code = encodeMimeFiles(&part, kFeedRelatedBoundary, mail->relatedFiles, true);
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return false;
  }
  out += part;
  return true;
}

}  // namespace oxm

using namespace oxm;

bool HtmlCreater::CreateHtml(Email& mail) {
  if (mail.body.empty()) return false;
  if (!mail.htmlBody.empty()) return true;
  std::wstring html = L"<html>\r\n<body>\r\n";
  html += L"\r\n";
  html += mail.body;
  html += L"\r\n";
  html += L"<div align=\"right\">";
  html += mail.dateText;
  html += L"</div>";
  if (!mail.enclosures.empty()) html += L"<img src=\"" + std::wstring(kFeedPictureDir) + mail.enclosures.front().name + L"\">\r\n";
  html += L"\r\n</body>\r\n</html>\r\n";
  mail.htmlBody = std::move(html);
  return true;
}

bool EmlCompose::SaveHtmlTemplate(Email* mail, const std::wstring* path) {
  NKDbgPrintfW(L"SaveHtmlTemplate() start\r\n");
  if (!mail || !path) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  std::string text;
  unsigned code = encodeHtmlTemplate(mail, &text);
  if (code == OXMDL_ERR_NONE) code = writeTemplateFile(*path, text);
  return reportCode(code);
}

bool EmlCompose::LoadHtmlTemplate(Email* mail, const std::wstring* path, std::string* raw) {
  NKDbgPrintfW(L"LoadHtmlTemplate() start\r\n");
  if (!mail || !path || !raw) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  std::string text;
  unsigned code = readTemplateFile(*path, &text);
  std::string lf;
  if (code == OXMDL_ERR_NONE) code = convertDecodeData(text, &lf);
  if (code != OXMDL_ERR_NONE) return reportCode(code);
  clearEmail(mail);
  code = decodeHtmlTemplate(mail, lf);
  if (code == OXMDL_ERR_NONE) *raw = std::move(text);
  return reportCode(code);
}
