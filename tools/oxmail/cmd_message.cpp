// oxmail ls, show, mark, mv, rm
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

std::wstring fromUnits(const char16_t* units, size_t max) {
  std::u16string s;
  for (size_t i = 0; i < max && units[i]; ++i) s += units[i];
  std::wstring out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    out += static_cast<wchar_t>(c);
  }
  return out;
}

std::string dateText(const SYSTEMTIME& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
  return buf;
}

std::string flagText(OxMessageInterface& m) {
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_ATTACHMENT |
           OxMessageInterface::ATTR_PARTIAL | OxMessageInterface::ATTR_KEEP;
  if (!m.GetAttributes(&a)) return "????";
  std::string flags;
  flags += a.flags[OxMessageInterface::FLAG_UNREAD] ? 'U' : '-';
  flags += a.flags[OxMessageInterface::FLAG_ATTACHMENT] ? 'A' : '-';
  flags += a.flags[OxMessageInterface::FLAG_PARTIAL] ? 'P' : '-';
  flags += a.flags[OxMessageInterface::FLAG_KEEP] ? 'K' : '-';
  return flags;
}

std::vector<unsigned long> messageIds(const Args& args, size_t from, size_t to) {
  std::vector<unsigned long> ids;
  for (size_t i = from; i < to; ++i) ids.push_back(parseNumber(args.positionals()[i], "message identifier"));
  if (ids.empty()) throw UsageError("missing ID");
  return ids;
}

// Text for a terminal: LF line ends, and the device's own pictograms (private-use characters
// no font has) shown by their code.
std::string lfText(const std::wstring& crlf) {
  std::wstring out;
  for (wchar_t c : crlf) {
    if (c == L'\r') continue;
    if (c >= 0xE000 && c <= 0xE757) {
      wchar_t code[16];
      std::swprintf(code, 16, L"[U+%04X]", static_cast<unsigned>(c));
      out += code;
      continue;
    }
    out += c;
  }
  return utf8(out);
}

// A display name as the record keeps it, without its surrounding double quotes.
std::wstring unquoted(std::wstring name) {
  if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') name = name.substr(1, name.size() - 2);
  return name;
}

std::string addressList(const std::list<std::wstring>& list) {
  std::string out;
  for (const auto& a : list) out += (out.empty() ? "" : ", ") + utf8(a);
  return out;
}

// Every file of a message: its enclosures, then the related files of its HTML body (parts with
// a Content-ID, which may be any file, not only a picture the HTML shows).
std::vector<Enclosure> filesOf(const Email& mail) {
  std::vector<Enclosure> files(mail.enclosures.begin(), mail.enclosures.end());
  files.insert(files.end(), mail.relatedFiles.begin(), mail.relatedFiles.end());
  return files;
}

}  // namespace

int runLs(const Words& words) {
  Args args(words, {});
  args.atMost(2);
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long id = args.positionals().size() > 1 ? account.folder(args.positionals()[1]) : account.trayId("inbox");
  Owned<OxFolderInterface> folder = account.openFolder(id);
  std::vector<unsigned long> ids;
  // Ordinary folders answer from their header cache in one read; the virtual folders have none,
  // so their messages are asked one by one.
  const bool cached = id < 0x10000;
  std::vector<FolderMsgHeader> headers;
  // Another process may add or remove a message between reading the list and the cache; the
  // pair is read again until both come from the same state.
  for (int attempt = 1;; ++attempt) {
    if (!folder->GetMessageIds(&ids)) libraryFailure("cannot list folder " + std::to_string(id));
    headers.assign(cached ? ids.size() : 0, FolderMsgHeader{});
    if (!cached || ids.empty() || folder->LoadMessageHeader(headers.data(), ids.size())) break;
    const unsigned code = GetOxMiddleError();
    const bool moved = code == OXMDL_ERR_STG_HEADER_COUNT || code == OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
    if (!moved || attempt == 50) libraryFailure("cannot read the list of folder " + std::to_string(id));
  }
  Table table({"id", "flags", "date", "from", "subject"});
  table.limit(3, 24);
  table.limit(4, 60);
  for (size_t i = 0; i < ids.size(); ++i) {
    Owned<OxMessageInterface> m(account.storage().OpenMessage(ids[i]));
    std::wstring from, subject;
    SYSTEMTIME date = {};
    if (cached) {
      from = unquoted(fromUnits(headers[i].fromName, 31));
      if (from.empty()) from = fromUnits(headers[i].fromAddress, 256);
      subject = fromUnits(headers[i].subject, 31);
      date = headers[i].date;
    } else if (m) {
      OxMessageInterface::Attributes a;
      a.mask = OxMessageInterface::ATTR_HEADER_MASK;
      if (m->GetAttributes(&a)) {
        from = a.fromName.empty() ? a.fromAddress : unquoted(a.fromName);
        subject = a.subject;
        date = OxMessageInterface::SystemTimeToLocalTime(a.date);
      }
    }
    table.add({Cell(ids[i]), Cell(m ? flagText(*m) : "????"), Cell(dateText(date)), Cell(from), Cell(subject)});
  }
  table.print();
  return kExitOk;
}

namespace {

// "Name <address>", or the address alone.
std::string fromText(const Email& mail) {
  return mail.fromName.empty() ? utf8(mail.from) : utf8(unquoted(mail.fromName)) + " <" + utf8(mail.from) + ">";
}

// From, To, Cc, Date and Subject lines of a decoded message.
void printHeader(const Email& mail) {
  const std::string from = fromText(mail);
  std::vector<std::pair<std::string, Cell>> header = {{"From", Cell(from)}, {"To", Cell(addressList(mail.to))}};
  if (!mail.cc.empty()) header.emplace_back("Cc", Cell(addressList(mail.cc)));
  // The Date line as received; the record's date is already shifted to this device's time.
  header.emplace_back("Date", Cell(mail.dateText.empty() ? dateText(mail.date) : utf8(mail.dateText)));
  header.emplace_back("Subject", Cell(mail.subject));
  printRecord(header);
}

// Bodies above this are shown a piece at a time, each piece about kPiece bytes cut at a line end.
constexpr size_t kPiecewiseAbove = 1 << 20;
constexpr size_t kPiece = 256 << 10;

// A large single-part plain-text message is decoded and printed a piece at a time: decoded
// whole, its body would take four bytes a character on top of the text. Each piece is decoded
// under the message's own Content-Type and transfer encoding; a piece ends at a line end, where
// base64 and quoted-printable lines and ISO-2022-JP's return to ASCII end. False (nothing
// printed) for any other message.
bool showPlainInPieces(EmlCompose& codec, const std::string& raw) {
  std::string header;
  if (raw.size() <= kPiecewiseAbove || !codec.GetHeader(raw, &header)) return false;
  std::string type;
  if (codec.GetHeaderField(header, "Content-Type", &type)) {
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (type.rfind("text/plain", 0) != 0) return false;
  }
  Email mail;
  if (!codec.DecodeHeader(&mail, &header)) return false;
  std::string fields;
  for (const char* name : {"MIME-Version", "Content-Type", "Content-Transfer-Encoding"}) {
    std::string value;
    if (codec.GetHeaderField(header, name, &value)) fields += std::string(name) + ": " + value + "\r\n";
  }
  printHeader(mail);
  std::printf("\n");
  size_t at = header.size() + 4;
  while (at < raw.size()) {
    size_t end = std::min(raw.size(), at + kPiece);
    // A line end, but not a quoted-printable soft break ("=" CR LF), which joins two lines.
    while (end < raw.size()) {
      const size_t lf = raw.rfind('\n', end - 1);
      if (lf == std::string::npos || lf < at) break;
      size_t last = lf;
      if (last > at && raw[last - 1] == '\r') --last;
      end = lf + 1;
      if (last == at || raw[last - 1] != '=') break;
      end = lf;
    }
    if (end <= at) end = std::min(raw.size(), at + kPiece);
    std::string piece = fields + "\r\n";
    piece.append(raw, at, end - at);
    Email part;
    if (!codec.Decode(&part, &piece)) libraryFailure("cannot decode the message text");
    std::string text = lfText(part.body);
    // The decoder drops the line end that closes a body; inside the message it is a line end.
    if (end < raw.size() && raw[end - 1] == '\n') text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    at = end;
  }
  std::printf("\n");
  return true;
}

// The file name an attachment is saved under: its name from Content-Type, else from
// Content-Disposition, with separators and control characters made '_' so that it stays in the
// chosen directory; "attachment-N" when it has none.
std::wstring attachmentFileName(const Enclosure& e) {
  std::wstring name = !e.name.empty() ? e.name : !e.filename.empty() ? e.filename : e.displayName;
  for (wchar_t& c : name) {
    if (c == L'/' || c == L'\\' || c < 0x20 || c == 0x7F) c = L'_';
  }
  if (name.empty() || name == L"." || name == L"..") name = L"attachment-" + std::to_wstring(e.index + 1);
  return name;
}

}  // namespace

int runShow(const Words& words) {
  Args args(words, {"save-attachments"}, {"raw", "headers", "html"});
  args.atMost(2);
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long id = parseNumber(args.need(1, "ID"), "message identifier");
  Owned<OxMessageInterface> m = account.openMessage(id);
  std::string raw;
  if (!m->Read(&raw)) libraryFailure("cannot read message " + std::to_string(id));
  m.reset();
  EmlCompose codec;
  if (args.has("raw") || args.has("headers")) {
    std::string text = raw;
    if (args.has("headers")) codec.GetHeader(raw, &text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
  }
  if (!args.has("html") && !args.value("save-attachments") && !settings().json && showPlainInPieces(codec, raw)) {
    return kExitOk;
  }
  Email mail;
  if (!codec.Decode(&mail, &raw)) libraryFailure("cannot decode message " + std::to_string(id));
  if (mail.feedMessage && !args.has("html")) return showFeedItem(id, raw, mail, args.value("save-attachments"));
  if (auto dir = args.value("save-attachments")) {
    if (!OxIsHostDirectory(*dir)) throw Failure("'" + *dir + "' is not a directory");
    std::wstring folder = OxHostToDevicePath(*dir) + L"\\";
    for (Enclosure e : filesOf(mail)) {
      e.folder = folder;
      // The codec writes the file under the Content-Type name; most senders give the name only
      // in Content-Disposition.
      e.name = attachmentFileName(e);
      if (!codec.GetEnclosure(raw, e)) libraryFailure("cannot save '" + utf8(e.name) + "'");
      if (!settings().quiet && !settings().json) std::printf("saved %s\n", utf8(e.name).c_str());
    }
    return kExitOk;
  }
  const std::string from = fromText(mail);
  if (settings().json) {
    std::string files, related;
    for (const auto& e : mail.enclosures) files += (files.empty() ? "" : ",") + jsonQuote(utf8(e.displayName));
    for (const auto& e : mail.relatedFiles) related += (related.empty() ? "" : ",") + jsonQuote(utf8(e.displayName));
    printRecord({{"id", Cell(id)}, {"from", Cell(from)}, {"to", Cell(addressList(mail.to))},
                 {"cc", Cell(addressList(mail.cc))}, {"date", Cell(dateText(mail.date))},
                 {"subject", Cell(mail.subject)}, {"body", Cell(lfText(mail.body))},
                 {"html", Cell(lfText(mail.htmlBody))}, {"attachments", Cell::json("[" + files + "]")},
                 {"related", Cell::json("[" + related + "]")}});
    return kExitOk;
  }
  if (args.has("html")) {
    if (mail.htmlBody.empty()) throw Failure("message " + std::to_string(id) + " has no HTML body");
    std::printf("%s\n", lfText(mail.htmlBody).c_str());
    return kExitOk;
  }
  printHeader(mail);
  std::printf("\n%s\n", lfText(mail.body).c_str());
  const std::vector<Enclosure> files = filesOf(mail);
  if (!files.empty()) std::printf("\n");
  for (size_t i = 0; i < files.size(); ++i) {
    const Enclosure& e = files[i];
    std::printf("[%zu] %s (%s/%s)%s\n", i + 1, utf8(e.displayName).c_str(), utf8(e.type).c_str(),
                utf8(e.subtype).c_str(), i < mail.enclosures.size() ? "" : " inline");
  }
  return kExitOk;
}

int runMark(const Words& words) {
  Args args(words, {});
  if (args.positionals().size() < 3) throw UsageError("missing ID or flag");
  Account account(args.need(0, "ACCOUNT"));
  const std::string how = args.positionals().back();
  OxMessageInterface::Attributes a;
  if (how == "read" || how == "unread") {
    a.mask = OxMessageInterface::ATTR_UNREAD;
    a.flags[OxMessageInterface::FLAG_UNREAD] = how == "unread";
  } else if (how == "keep" || how == "nokeep") {
    a.mask = OxMessageInterface::ATTR_KEEP;
    a.flags[OxMessageInterface::FLAG_KEEP] = how == "keep";
  } else {
    throw UsageError("'" + how + "' is not read, unread, keep or nokeep");
  }
  for (unsigned long id : messageIds(args, 1, args.positionals().size() - 1)) {
    Owned<OxMessageInterface> m = account.openMessage(id);
    if (!m->SetAttributes(a)) libraryFailure("cannot mark message " + std::to_string(id));
  }
  return kExitOk;
}

int runMv(const Words& words) {
  Args args(words, {});
  if (args.positionals().size() < 3) throw UsageError("missing ID or FOLDER");
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long to = account.folder(args.positionals().back());
  if (to >= 0x10000) throw Failure("messages cannot be moved into a virtual folder");
  for (unsigned long id : messageIds(args, 1, args.positionals().size() - 1)) {
    if (!account.storage().MoveMessage(id, to)) libraryFailure("cannot move message " + std::to_string(id));
  }
  return kExitOk;
}

int runRm(const Words& words) {
  Args args(words, {});
  Account account(args.need(0, "ACCOUNT"));
  for (unsigned long id : messageIds(args, 1, args.positionals().size())) {
    if (!account.storage().RemoveMessage(id)) libraryFailure("cannot remove message " + std::to_string(id));
  }
  return kExitOk;
}

}  // namespace oxmail
