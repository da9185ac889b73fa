// MailAccount: the account record handed to the POP3 and SMTP clients. The retriever and the
// sender fill it from the account's settings; the clients copy it and convert its wide texts
// to the system code page when it is set. Plain record, copied by value.
#pragma once

#include <cstdint>
#include <list>
#include <string>

// Values of MailAccount::smtpAuthMethod.
enum SmtpAuthMethod : uint32_t {
  SMTP_AUTH_NONE = 0,
  SMTP_AUTH_POP_BEFORE_SMTP = 1,
  SMTP_AUTH_FROM_EHLO = 2,  // the best mechanism the server's EHLO offers
  SMTP_AUTH_CRAM_MD5 = 3,
  SMTP_AUTH_LOGIN = 4,
};

struct MailAccount {
  std::wstring mailAddress;                  // the account's own address
  std::wstring popUserName;                  // POP3 USER / APOP
  std::wstring popPassword;                  // POP3 PASS / APOP
  std::wstring popServerName;                // POP3 host: a name or a dotted address
  std::wstring smtpServerName;               // SMTP host
  uint32_t popServerPort = 0;                // 995 switches on the secure socket
  uint32_t smtpServerPort = 0;
  uint32_t partialLines = 0;                 // body lines asked for in partial mode
  uint8_t deleteFromServer = 0;              // delete each message right after delivery
  uint8_t popBeforeSmtp = 0;
  uint8_t apopEnabled = 0;                   // APOP instead of USER/PASS
  uint32_t smtpAuthMethod = SMTP_AUTH_NONE;  // a SmtpAuthMethod
  std::wstring smtpUserName;
  std::wstring smtpPassword;
  std::wstring lastUid;                      // the last UID received from this account
  uint32_t popBeforeSmtpLatencySec = 0;      // wait after the POP login before SMTP
  std::list<std::wstring> uidList;           // UIDs known to be on the server
  uint32_t reserved = 0;                     // copied, never used
};
