// EmlCompose::RssEncode: the message text of one feed item.
//
// The feed client appends an item's attachments in a fixed order: the contents message (a
// remote reference, or the fetched "contents.eml"), then the picture (a remote reference, or
// the fetched picture with its small and large copies). The first enclosure's `extracted` flag
// says the picture files are there, its `inlineDisposition` flag the contents file. A reference
// that was not fetched is written as a header field ("X-Feed-Contents", "X-Feed-Image") for a
// later re-get, and is no attachment.
#include "codec/emlcompose.h"
#include "codec/encode_fields.h"
#include "codec/html_mail.h"
#include "codec/line_ends.h"
#include "codec/report.h"
#include "frame/oxerror.h"
#include "platform/debug.h"

namespace oxm {

namespace {

// A header text that may be encoded words, on its own line.
void addWordField(std::string* text, const char* name, const std::wstring& value) {
  *text += name;
  *text += ": " + encodeHeaderWord(value) + "\n";
}

// A header value written as it is (identifiers and URLs).
void addPlainField(std::string* text, const char* name, const std::wstring& value) {
  *text += name;
  *text += ": " + sendingText(oneLine(value)) + "\n";
}

// The reference fields of the attachments that were not fetched, which leave the list; whether
// the rest are files to attach. The fields are written before the multipart header, so that they
// stay in the message's header block.
bool rssEncodeTIDALHeader(std::string* text, Email* mail) {
  if (mail->enclosures.empty()) return false;
  const bool pictureFile = mail->enclosures.front().extracted;
  const bool contentsFile = mail->enclosures.front().inlineDisposition;
  const bool dropFirst = !contentsFile && !mail->enclosures.front().filename.empty();
  if (dropFirst) addPlainField(text, "X-Feed-Contents", mail->enclosures.front().filename);
  const Enclosure& picture = mail->enclosures.size() > 1 ? *std::next(mail->enclosures.begin()) : mail->enclosures.front();
  const bool dropLast = !pictureFile && !picture.folder.empty();
  if (dropLast) addPlainField(text, "X-Feed-Image", picture.folder);
  if (dropFirst) mail->enclosures.pop_front();
  if (dropLast && !mail->enclosures.empty()) mail->enclosures.pop_back();
  return pictureFile || contentsFile;
}

unsigned rssEncode(Email* mail, std::string* out) {
  if (!mail || !out) return OXMDL_ERR_MIME_NULL_ARG;
  mail->feedMessage = true;
  std::string text = "X-Tmr-Rivulet\nFrom: " + fromForm(*mail);
  if (!mail->dateText.empty()) text += "\nDate: " + sendingText(oneLine(mail->dateText));
  text += "\nSubject: " + encodeHeaderWord(mail->subject) + "\n";
  addWordField(&text, "x-ml-name", mail->mlName);
  if (!mail->feedDownloadValue.empty()) addWordField(&text, "X-Feed-Download", mail->feedDownloadValue);
  if (!mail->replyTo.empty()) addWordField(&text, "Reply-To", mail->replyTo);
  if (!mail->messageId.empty()) addPlainField(&text, "Message-Id", mail->messageId);
  if (!mail->references.empty()) addPlainField(&text, "In-Reply-To", mail->references);
  text += "Mime-Version: 1.0\n";

  MimeFlags flags;
  flags.first = true;
  const bool files = rssEncodeTIDALHeader(&text, mail);
  if (files) addMimeHeader(&text, "mixed", kMixedBoundary, &flags);
  const bool html = !mail->htmlBody.empty();
  if (html) addMimeHeader(&text, "alternative", kAlternativeBoundary, &flags);
  unsigned code = makeBodyField(&text, *mail);
  if (code != OXMDL_ERR_NONE) return code;
  if (html) {
    addBoundary(&text, kAlternativeBoundary, false);
    if (!makeHtmlField(text, mail)) return GetOxMiddleError();
    addBoundary(&text, kAlternativeBoundary, true);
  }
  if (files) {
    code = encodeMimeFiles(&text, kMixedBoundary, mail->enclosures, false);
    if (code != OXMDL_ERR_NONE) return code;
    addBoundary(&text, kMixedBoundary, true);
  }
  code = replace0Ato0D0A_S(&text);
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_MEM_SHORTAGE;
  *out = std::move(text);
  return OXMDL_ERR_NONE;
}

}  // namespace

}  // namespace oxm

bool EmlCompose::RssEncode(Email* mail, std::string* out) {
  oxm::NKDbgPrintfW(L"EmlCompose::RssEncode()\r\n");
  const unsigned code = oxm::rssEncode(mail, out);
  if (code != OXMDL_ERR_NONE && out) out->clear();
  return oxm::reportCode(code);
}

bool EmlCompose::RssEncode(Email* mail, RawEmail_S* raw) {
  if (!raw || !raw->data) return oxm::reportCode(OXMDL_ERR_MIME_NULL_ARG);
  return RssEncode(mail, raw->data);
}
