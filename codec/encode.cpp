#include "codec/encode.h"

#include "codec/address.h"
#include "codec/date_field.h"
#include "codec/decode.h"
#include "codec/emlcompose.h"
#include "codec/encode_fields.h"
#include "codec/header_decode.h"
#include "codec/line_ends.h"
#include "codec/report.h"
#include "codec/text_util.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "platform/debug.h"
#include "platform/wintypes.h"

namespace oxm {

namespace {

constexpr char kFooter[] = "\r\n\r\n-----------------\r\nsent from K-PRISM\r\n";
constexpr const char* kMultipartTypes[] = {"Content-Type: multipart/mixed;", "Content-Type: multipart/alternative;",
                                           "Content-Type: multipart/related;"};

struct Envelope {
  std::string from;
  std::list<std::string> recipients;
};

// The message up to and including its HTML part, with LF line ends; *stamp receives the date
// that was written.
unsigned buildHead(const Email& mail, std::string* text, Envelope* envelope, Email* stamp, MimeFlags* flags,
                   BoundStr* bounds) {
  *text = "From: " + fromForm(mail);
  envelope->from = sendingText(mail.from);
  makeAddressField(text, mail, &envelope->recipients);
  makeDateField(text, stamp);
  *text += "\nSubject: " + encodeHeaderWord(mail.subject) + "\n";
  if (!mail.replyTo.empty()) *text += "Reply-To: " + encodeHeaderWord(mail.replyTo) + "\n";
  makeInReplyToField(text, mail);
  *text += "Mime-Version: 1.0\n";
  *text += "X-Mailer: " + xMailerValue(mail.pictureMail) + "\n";
  encodeMimeHeader(text, mail, flags, bounds);
  unsigned code = makeBodyField(text, mail);
  if (code == OXMDL_ERR_NONE && flags->alternative) code = makeHtmlBodyField(text, mail);
  return code;
}

// The parts of a received message copied as they stand in its LF text. Each part header names
// the part's own transfer encoding (none when it had none), not Base64 as for files: the bytes
// are copied as received, and a Base64 label on a quoted-printable or 7bit part would corrupt it.
void copyParts(std::string* out, const std::string& boundary, const std::list<Enclosure>& parts, bool inlineAll,
               const std::string& text) {
  for (const Enclosure& part : parts) {
    // A received part may carry its name only as the disposition's filename.
    const std::wstring& name = part.name.empty() ? part.displayName : part.name;
    addFilePartHeader(out, boundary, part, name, inlineAll || part.inlineDisposition,
                      sendingText(part.transferEncoding));
    if (part.bodyOffset < text.size()) out->append(text, part.bodyOffset, part.bodyLength);
  }
}

// Finishing steps shared by Encode and EncodeWithoutEnclosure: CR LF, then the outputs.
unsigned commit(Email* mail, std::string* text, Envelope* envelope, const Email& stamp, const MimeFlags& flags,
                std::string* out, RawEmail_S* raw) {
  const unsigned code = replace0Ato0D0A_S(text);
  if (code != OXMDL_ERR_NONE) {
    out->clear();
    return code;
  }
  *out = std::move(*text);
  if (raw) {
    raw->envelopeFrom = std::move(envelope->from);
    raw->recipients.splice(raw->recipients.end(), envelope->recipients);
  }
  mail->date = stamp.date;
  mail->timeZone = stamp.timeZone;
  if (flags.related)
    for (Enclosure& file : mail->relatedFiles) file.inlineDisposition = true;
  return OXMDL_ERR_NONE;
}

// Where the header field `name` (with its colon) starts in the CR LF header block [0, end):
// at the start of the text or of a line; npos when there is none.
size_t fieldStart(const std::string& text, size_t end, std::string_view name) {
  for (size_t at = 0; at < end;) {
    if (startsWithNoCase(std::string_view(text).substr(at, end - at), name)) return at;
    const size_t next = text.find("\r\n", at);
    if (next == std::string::npos || next >= end) break;
    at = next + 2;
  }
  return std::string::npos;
}

// The end of the logical line that starts at `at`: after the CR LF that is not followed by a
// blank or a tab (continuation lines belong to the field).
size_t fieldEnd(const std::string& text, size_t end, size_t at) {
  for (;;) {
    const size_t crlf = text.find("\r\n", at);
    if (crlf == std::string::npos || crlf >= end) return end;
    at = crlf + 2;
    if (at >= end || !isBlankOrTab(text[at])) return at;
  }
}

}  // namespace

bool footerWanted() {
  DWORD paranoia = 0;
  const HKEY root = HKEY_CURRENT_USER;
  const wchar_t* const key = L"Software\\TAMARIN\\OxMail";
  const wchar_t* const name = L"paranoia";
  return !GetRegistryDword(root, key, name, &paranoia) || paranoia == 1;
}

unsigned encodeMessage(Email* mail, std::string* out, RawEmail_S* raw) {
  if (!mail || !out) return OXMDL_ERR_MIME_NULL_ARG;
  std::string text;
  Envelope envelope;
  Email stamp;
  MimeFlags flags;
  BoundStr bounds;
  unsigned code = buildHead(*mail, &text, &envelope, &stamp, &flags, &bounds);
  if (code == OXMDL_ERR_NONE) code = encodeEnclosure(&text, *mail, flags, bounds);
  if (code != OXMDL_ERR_NONE) return code;
  text += '\n';
  return commit(mail, &text, &envelope, stamp, flags, out, raw);
}

unsigned encodeWithoutEnclosure(Email* mail, std::string* out, const std::string* raw) {
  if (!mail || !out || !raw) return OXMDL_ERR_MIME_NULL_ARG;
  std::string received;
  unsigned code = replace0D0Ato0A(*raw, &received);
  if (code != OXMDL_ERR_NONE) return code;
  std::string text;
  Envelope envelope;
  Email stamp;
  MimeFlags flags;
  BoundStr bounds;
  code = buildHead(*mail, &text, &envelope, &stamp, &flags, &bounds);
  if (code != OXMDL_ERR_NONE) return code;
  if (flags.related) copyParts(&text, bounds.related, mail->relatedFiles, true, received);
  if (!bounds.enclosures.empty()) {
    copyParts(&text, bounds.enclosures, mail->enclosures, false, received);
    addBoundary(&text, bounds.enclosures, true);
  } else if (flags.related) {
    addBoundary(&text, bounds.related, true);
  }
  return commit(mail, &text, &envelope, stamp, flags, out, nullptr);
}

unsigned deleteEnclosureFromRawData(const std::string* raw, std::string* out) {
  if (!raw || !out) return OXMDL_ERR_MIME_NULL_ARG;
  Email mail;
  std::string text;
  unsigned code = convertDecodeData(*raw, &text);
  if (code == OXMDL_ERR_NONE) code = decodeCore(&mail, text, 0);
  return code != OXMDL_ERR_NONE ? code : copyWithoutEnclosures(&mail, *raw, out);
}

unsigned copyWithoutEnclosures(Email* mail, const std::string& raw, std::string* out) {
  if (mail->pictureMail) {
    if (mail->enclosures.size() < 2) return OXMDL_ERR_ATT_SINGLE_PART;
    mail->enclosures.resize(1);
  } else {
    mail->enclosures.clear();
  }
  std::string copy;
  unsigned code = encodeWithoutEnclosure(mail, &copy, &raw);
  if (code != OXMDL_ERR_NONE) return code;
  std::string received;
  if (getHeaderField(raw, "Date", &received) == OXMDL_ERR_NONE) {
    const size_t start = fieldStart(copy, copy.find("\r\n\r\n"), "Date: ");
    if (start != std::string::npos) {
      const size_t value = start + 6;
      copy.replace(value, copy.find("\r\n", value) - value, received);
    }
  }
  *out = std::move(copy);
  return OXMDL_ERR_NONE;
}

// The Bcc field goes (with what stands between it and the Date field, as the message was
// written by Encode); the Date field is made anew and followed by a Message-Id, and any
// Message-Id the text had goes, so that the message carries exactly one. A text without a
// Date field gets both at the end of its header. Line ends are CR LF throughout: the fresh
// Date line takes the place of the old one and ends with CR LF like it (RFC 5321 section
// 2.3.8 allows no bare LF).
unsigned emlToRawEmailS(std::string* raw, RawEmail_S* out) {
  if (!raw || !out) return OXMDL_ERR_MIME_NULL_ARG;
  std::list<std::string> recipients;
  for (const char* field : {"To", "Cc", "Bcc"}) {
    std::string value;
    if (getHeaderField(*raw, field, &value) != OXMDL_ERR_NONE) continue;
    for (std::string& address : bareAddressList(value))
      if (!address.empty()) recipients.push_back(std::move(address));
  }
  std::string envelopeFrom, value, name;
  if (getHeaderField(*raw, "From", &value) == OXMDL_ERR_NONE) parseSingleAddress(value, &envelopeFrom, &name);

  const size_t blank = raw->find("\r\n\r\n");
  const size_t bodyStart = blank == std::string::npos ? raw->size() : blank + 2;
  std::string header = raw->substr(0, bodyStart);
  size_t bcc = fieldStart(header, header.size(), "Bcc:");
  size_t date = fieldStart(header, header.size(), "Date:");
  if (bcc != std::string::npos) {
    const size_t to = date != std::string::npos && date > bcc ? date : fieldEnd(header, header.size(), bcc);
    header.erase(bcc, to - bcc);
  }
  for (size_t id; (id = fieldStart(header, header.size(), "Message-Id:")) != std::string::npos;)
    header.erase(id, fieldEnd(header, header.size(), id) - id);
  std::string fresh;
  Email stamp;
  makeDateField(&fresh, &stamp);
  fresh.erase(0, 1);  // the leading LF
  fresh += "\r\n";
  makeMessageIdField(&fresh, envelopeFrom);
  fresh += "\r\n";
  date = fieldStart(header, header.size(), "Date:");
  if (date != std::string::npos) {
    header.replace(date, fieldEnd(header, header.size(), date) - date, fresh);
  } else {
    if (!header.empty() && header.compare(header.size() - std::min<size_t>(2, header.size()), 2, "\r\n") != 0)
      header += "\r\n";
    header += fresh;
  }
  // One copy of the body, which may be megabytes.
  std::string data;
  data.reserve(header.size() + raw->size() - bodyStart + sizeof kFooter - 1);
  data += header;
  data.append(*raw, bodyStart, std::string::npos);
  bool multipart = false;
  for (const char* type : kMultipartTypes) multipart = multipart || data.find(type) != std::string::npos;
  if (!multipart && footerWanted()) data += kFooter;

  if (!out->data) out->data = raw;  // no string of the caller's: the stored text is prepared in place
  *out->data = std::move(data);
  out->envelopeFrom = std::move(envelopeFrom);
  out->recipients.splice(out->recipients.end(), recipients);
  return OXMDL_ERR_NONE;
}

}  // namespace oxm

using namespace oxm;

bool EmlCompose::Encode(Email* mail, std::string* out, RawEmail_S* raw) {
  if (!raw) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  return reportCode(encodeMessage(mail, out, raw));
}

bool EmlCompose::Encode(Email* mail, std::string* out) {
  NKDbgPrintfW(L"EmlCompose::Encode() string version\r\n");
  RawEmail_S scratch;
  return reportCode(encodeMessage(mail, out, &scratch));
}

bool EmlCompose::Encode(Email* mail, RawEmail_S* raw) {
  NKDbgPrintfW(L"EmlCompose::Encode() RawEmail version\r\n");
  if (!raw || !raw->data) return reportCode(OXMDL_ERR_MIME_NULL_ARG);
  return reportCode(encodeMessage(mail, raw->data, raw));
}

bool EmlCompose::EncodeWithoutEnclosure(Email* mail, std::string* out, const std::string* raw) {
  const unsigned code = encodeWithoutEnclosure(mail, out, raw);
  if (code == OXMDL_ERR_NONE) NKDbgPrintfW(L"EmlCompose::EncodeWithoutEnclosure() end\r\n");
  return reportCode(code);
}

bool EmlCompose::DeleteEnclosureFromRawData(const std::string* raw, std::string* out) {
  return reportCode(deleteEnclosureFromRawData(raw, out));
}

bool EmlCompose::EmlToRawEmailS(std::string* raw, RawEmail_S* out) { return reportCode(emlToRawEmailS(raw, out)); }
