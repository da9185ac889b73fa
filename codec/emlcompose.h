// EmlCompose turns received RFC 822 / MIME text (narrow, the system code page) into the
// message record Email and writes its attachments to files; it encodes composed messages for
// sending, fills drafts from mailto URLs, and saves and loads HTML mail templates.
//
// Every member sets the library's last-error code before it returns: OXMDL_ERR_NONE on
// success. Bad input never fails a decode: unknown header lines are skipped, undecodable
// encoded words stay text, a missing or broken Date is replaced by the current time. Encoding
// never fails on text: characters without a Shift_JIS form are sent as the geta mark (U+3013).
#pragma once

#include <string>

#include "codec/email.h"

class EmlCompose {
 public:
  EmlCompose() = default;

  // Full decode of one received message. Null argument: OXMDL_ERR_MIME_NULL_ARG, record
  // untouched. Free physical memory not above max(2 x the text length, 1 MiB), or a failed heap
  // probe: OXMDL_ERR_MEM_SHORTAGE, the record may be partly filled.
  bool Decode(Email* out, const std::string* raw);
  // As Decode; when a Date line had to be made up it is also written into *raw, replacing the
  // received "Date:" line or, without one, in front of the text.
  bool DecodeForSave(Email* out, std::string* raw);
  // As Decode for a list preview: the walk stops after the first text part and the body is cut
  // to maxBodyChars UTF-16 characters (281 when negative).
  bool DecodeSimple(Email* out, const std::string* raw, int maxBodyChars);
  // Header only: the text up to the first empty line (CR LF CR LF; the whole text without one).
  bool DecodeHeader(Email* out, const std::string* raw);
  // *out = raw up to its first CR LF CR LF; none: OXMDL_ERR_MIME_NO_HEADER, *out untouched.
  bool GetHeader(const std::string& raw, std::string* out);
  // The first header field called `name` (":" optional, ASCII case ignored), unfolded (folds
  // joined with one blank), encoded words decoded, blanks trimmed. Missing:
  // OXMDL_ERR_MIME_NO_HEADER; null out: OXMDL_ERR_MIME_NULL_ARG.
  bool GetHeaderField(const std::string& raw, const std::string& name, std::string* out);
  // One address into bare address and display name. Null output: OXMDL_ERR_MIME_NULL_ARG.
  bool ParseAddress(const std::wstring& in, std::wstring* address, std::wstring* name);
  bool ParseAddress_S(const std::string& in, std::string* address, std::string* name);

  // Decodes one enclosure of the received message `raw` (as Decode described it) into the file
  // folder + name. Errors: no folder OXMDL_ERR_MIME_DECODE; less free space than the part
  // OXMDL_ERR_FILE_DISK_FULL; free memory not above twice the text OXMDL_ERR_MEM_SHORTAGE; the
  // file exists OXMDL_ERR_MIME_FILE_EXISTS; it cannot be created OXMDL_ERR_FILE_OPEN; a
  // uuencoded part without "begin " OXMDL_ERR_MIME_DECODE and a short write
  // OXMDL_ERR_FILE_DISK_FULL, both leaving no file behind.
  bool GetEnclosure(const std::string& raw, const Enclosure& enclosure);

  // ---- Sending ----
  //
  // Encodes a composed message to RFC 822 / MIME text with CR LF line ends: From, To, Cc, Bcc
  // (bare addresses), Date (now; mail->date and timeZone are set to it), Subject, Reply-To,
  // In-Reply-To and References (when mail->messageId names the message answered), Mime-Version,
  // X-Mailer, then the text, the HTML body and the files (folder + name of each enclosure and
  // related file). The bare addresses of To, Cc and Bcc are appended to raw->recipients (pass
  // a fresh record) and raw->envelopeFrom is set. Null arguments: OXMDL_ERR_MIME_NULL_ARG. A
  // file that does not exist: OXMDL_ERR_MIME_FILE_MISSING; one that cannot be read:
  // OXMDL_ERR_MIME_FILE_READ. Too little memory: OXMDL_ERR_MEM_SHORTAGE. On every failure *out
  // and *raw are untouched and so are mail->date and timeZone, except that a failure of the
  // last step (the CR LF conversion) empties *out.
  bool Encode(Email* mail, std::string* out, RawEmail_S* raw);
  // The same with a scratch envelope.
  bool Encode(Email* mail, std::string* out);
  // The same into *raw->data (null data: OXMDL_ERR_MIME_NULL_ARG).
  bool Encode(Email* mail, RawEmail_S* raw);
  // As Encode, but the enclosures (and related files) are not read from files: each part is
  // copied from the received message `raw` as it stands there (its Base64 or other transfer
  // encoding kept), where mail's enclosures (as Decode described raw) say it is. No final line
  // end is added.
  bool EncodeWithoutEnclosure(Email* mail, std::string* out, const std::string* raw);
  // A copy of the received message `raw` without its enclosures; a picture mail keeps its
  // first picture and needs at least two enclosures (else OXMDL_ERR_ATT_SINGLE_PART). The copy
  // is encoded anew (EncodeWithoutEnclosure) and keeps raw's Date value.
  bool DeleteEnclosureFromRawData(const std::string* raw, std::string* out);
  // Prepares a stored outgoing message (CR LF text) for SMTP: envelope sender and recipients
  // (To, Cc, Bcc, appended), the Bcc field removed, a fresh Date and one Message-Id, and the
  // "sent from" footer on a message that is not multipart unless the registry value "paranoia"
  // under HKEY_CURRENT_USER\Software\TAMARIN\OxMail is a DWORD other than 1. The text goes
  // to *out->data; with null data, out->data is set to raw and *raw is rewritten in place.
  // Null raw or out: OXMDL_ERR_MIME_NULL_ARG.
  bool EmlToRawEmailS(std::string* raw, RawEmail_S* out);

  // ---- Feed items ----
  //
  // Encodes a message record the feed client filled from one item (feedMessage is set here):
  // the "X-Tmr-Rivulet" marker, From, Date as given, Subject, x-ml-name, X-Feed-Download,
  // Reply-To, Message-Id, In-Reply-To (mail->references), Mime-Version; a picture or contents
  // that was not fetched becomes an "X-Feed-Image" / "X-Feed-Contents" field, fetched files are
  // attached under multipart/mixed, and an HTML body makes multipart/alternative. Attachment
  // file errors as for Encode; too little memory: OXMDL_ERR_MEM_SHORTAGE.
  bool RssEncode(Email* mail, RawEmail_S* raw);
  // The same into *out, which is empty on failure.
  bool RssEncode(Email* mail, std::string* out);

  // Fills a draft from a "mailto:" URL (RFC 6068): addresses before "?" and in to=, cc=, bcc=
  // parameters, subject= and body= (percent escapes decoded; text in the system code page).
  // The record is cleared first. Null mail: OXMDL_ERR_MIME_NULL_ARG; a URL that does not
  // begin with "mailto:" (any case): OXMDL_ERR_MIME_DECODE, the record left cleared.
  bool ParseMailto(const std::string& url, Email* mail);

  // ---- HTML mail templates ----
  //
  // Writes mail's HTML body (as Shift_JIS), related files and enclosures to the template file
  // at *path, headed "K-HTML-MAIL-TEMPLATE". The file is replaced whole or not at all. Null
  // arguments: OXMDL_ERR_MIME_NULL_ARG; file errors as for Encode; the file cannot be
  // created: OXMDL_ERR_FILE_OPEN; a short write: OXMDL_ERR_FILE_DISK_FULL.
  bool SaveHtmlTemplate(Email* mail, const std::wstring* path);
  // Reads a template file back: the HTML body, the related files and the enclosures, whose
  // bytes GetEnclosure takes from *raw (the file's text). Null arguments:
  // OXMDL_ERR_MIME_NULL_ARG; no file: OXMDL_ERR_HTML_NO_TEMPLATE; the file cannot be opened or
  // read: OXMDL_ERR_FILE_OPEN; a file whose first line is not the magic line: last error -1
  // (0xFFFFFFFF). On failure *raw is untouched; the record is cleared once the file was read.
  bool LoadHtmlTemplate(Email* mail, const std::wstring* path, std::string* raw);

  // The media type of a file name by its extension ("application/octet-stream" when unknown);
  // a name that already is a type ("text/plain") comes back in lower case.
  std::wstring MimeTypeId(const std::wstring& name);

  unsigned long GetErrorInfo();
};
