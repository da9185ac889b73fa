// EmlCompose turns received RFC 822 / MIME text (narrow, the system code page) into the
// message record Email, and writes its attachments to files.
//
// Every member sets the library's last-error code before it returns: OXMDL_ERR_NONE on
// success. Bad input never fails a decode: unknown header lines are skipped, undecodable
// encoded words stay text, a missing or broken Date is replaced by the current time.
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

  // The media type of a file name by its extension ("application/octet-stream" when unknown);
  // a name that already is a type ("text/plain") comes back in lower case.
  std::wstring MimeTypeId(const std::wstring& name);

  unsigned long GetErrorInfo();
};
