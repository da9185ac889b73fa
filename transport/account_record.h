// The part of the account record handed to the POP3 and SMTP clients that the retriever and the
// sender fill alike: address, user, servers, ports, APOP and the POP-before-SMTP wait.
#pragma once

#include "accounts/account_info.h"
#include "transport/mail_account.h"

namespace oxm::transport {

MailAccount serverRecord(const OxAccountInfoInterface::Attributes& a);

}  // namespace oxm::transport
