// oxmail compose, reply, reply-all, forward: new messages into the outbox or the drafts tray.
#include <cstdio>

#include "accounts/new_message.h"
#include "store/message_maker.h"
#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

std::wstring crlf(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

std::string readHostFile(const std::string& path, const char* what) {
  std::string bytes;
  if (OxIsHostDirectory(path) || !OxReadDeviceFile(OxHostToDevicePath(path), &bytes)) {
    throw Failure("cannot read the " + std::string(what) + " file '" + path + "'");
  }
  return bytes;
}

// Stores encoded text as a new message of the folder with the attributes its header gives,
// as the store does for a composed message; a failure leaves no message behind.
unsigned long store(Account& account, unsigned long folderId, const std::string& text, bool attachments) {
  Email header;
  EmlCompose codec;
  if (!codec.DecodeHeader(&header, &text)) libraryFailure("cannot read back the encoded message");
  Owned<OxFolderInterface> folder = account.openFolder(folderId);
  const unsigned int composedKind = 3;  // as the sender files its sent copies
  const OxMessageInterface::Attributes a =
      oxm::newMessageAttributes(codec, header, attachments, composedKind, header.date);
  unsigned long id = 0;
  if (!oxm::MessageMaker::create(*folder, a, text, &id)) {
    libraryFailure("cannot store the message in folder " + std::to_string(folderId));
  }
  return id;
}

void report(const char* what, unsigned long id, const char* tray) {
  if (settings().json) {
    printRecord({{"id", Cell(id)}, {"folder", Cell(tray)}});
  } else if (!settings().quiet) {
    std::printf("%s %lu in %s\n", what, id, tray);
  }
}

void fromAccount(Account& account, Email* mail) {
  const auto a = account.attributes();
  if (a.strSenderAddress.empty()) {
    throw Failure("'" + account.name() + "' has no sender address; set it with 'oxmail account set " +
                  account.name() + " strSenderAddress=...'");
  }
  mail->from = a.strSenderAddress;
  mail->fromName = a.strSenderName;
}

}  // namespace

int runCompose(const Words& words) {
  Args args(words, {"to", "cc", "bcc", "subject", "body", "body-file", "attach", "html", "mailto"});
  args.atMost(1);
  Account account(args.need(0, "ACCOUNT"));
  Email mail;
  EmlCompose codec;
  if (auto url = args.value("mailto")) {
    if (!codec.ParseMailto(*url, &mail)) libraryFailure("'" + *url + "' is not a mailto URL");
    mail.body = crlf(mail.body);
  } else {
    if (args.values("to").empty()) throw UsageError("missing --to");
    if (!args.value("subject")) throw UsageError("missing --subject");
    if (args.value("body").has_value() == args.value("body-file").has_value()) {
      throw UsageError("give the body with one of --body or --body-file");
    }
    for (const auto& v : args.values("to")) mail.to.push_back(wide(v));
    for (const auto& v : args.values("cc")) mail.cc.push_back(wide(v));
    for (const auto& v : args.values("bcc")) mail.bcc.push_back(wide(v));
    mail.subject = wide(*args.value("subject"));
    mail.body = crlf(wide(args.value("body") ? *args.value("body") : readHostFile(*args.value("body-file"), "body")));
    if (auto html = args.value("html")) mail.htmlBody = crlf(wide(readHostFile(*html, "HTML")));
  }
  for (const std::string& path : args.values("attach")) {
    readHostFile(path, "attachment");  // refuse a missing or unreadable file before anything is made
    const size_t slash = path.rfind('/');
    Enclosure e;
    e.name = wide(slash == std::string::npos ? path : path.substr(slash + 1));
    e.displayName = e.name;
    e.folder = OxHostToDevicePath(slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash)) + L"\\";
    mail.enclosures.push_back(e);
  }
  fromAccount(account, &mail);
  std::string text;
  if (!codec.Encode(&mail, &text)) libraryFailure("cannot encode the message");
  report("stored message", store(account, account.trayId("outbox"), text, !mail.enclosures.empty()), "outbox");
  return kExitOk;
}

// kind: 0 reply, 1 reply to all, 2 forward.
int runReply(const Words& words, int kind) {
  Args args(words, {});
  args.atMost(2);
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long id = parseNumber(args.need(1, "ID"), "message identifier");
  std::string raw;
  {
    Owned<OxMessageInterface> m = account.openMessage(id);
    if (!m->Read(&raw)) libraryFailure("cannot read message " + std::to_string(id));
  }
  Email mail;
  EmlCompose codec;
  if (!codec.Decode(&mail, &raw)) libraryFailure("cannot decode message " + std::to_string(id));
  const auto a = account.attributes();
  static const int kQuoteKinds[] = {1, 2, 3};
  QuoteEmail quote;
  quote.Convertmaildata(kQuoteKinds[kind], a.strSenderAddress, &mail);
  fromAccount(account, &mail);
  // The enclosures that travel with the draft are copied from the received text as they are.
  std::string text;
  if (!codec.EncodeWithoutEnclosure(&mail, &text, &raw)) libraryFailure("cannot encode the draft");
  static const char* const kWhat[] = {"reply draft", "reply-to-all draft", "forward draft"};
  report(kWhat[kind], store(account, account.trayId("drafts"), text, !mail.enclosures.empty()), "drafts");
  return kExitOk;
}

}  // namespace oxmail
