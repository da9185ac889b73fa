// The part of the account record handed to the POP3 and SMTP clients that the retriever and the
// sender fill alike: address, user, servers, ports, APOP and the POP-before-SMTP wait.
#pragma once

#include "accounts/account_info.h"
#include "transport/mail_account.h"

namespace oxm::transport {

MailAccount serverRecord(const OxAccountInfoInterface::Attributes& a);
// The keys serverRecord reads.
inline constexpr uint64_t kServerRecordMask = [] {
  using M = OxAccountInfoInterface::Mask;
  return M::strSenderAddress | M::strPopUserName | M::strPopServerName | M::strSmtpServerName |
         M::uiPopServerPort | M::uiSmtpServerPort | M::bAPOPEnabled | M::ulPopBeforeSmtpLatencySec;
}();

}  // namespace oxm::transport
