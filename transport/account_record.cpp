#include "transport/account_record.h"

namespace oxm::transport {

MailAccount serverRecord(const OxAccountInfoInterface::Attributes& a) {
  MailAccount m;
  m.mailAddress = a.strSenderAddress;
  m.popUserName = a.strPopUserName;
  m.popServerName = a.strPopServerName;
  m.smtpServerName = a.strSmtpServerName;
  m.popServerPort = a.uiPopServerPort;
  m.smtpServerPort = a.uiSmtpServerPort;
  m.apopEnabled = a.bAPOPEnabled ? 1 : 0;
  m.popBeforeSmtpLatencySec = a.ulPopBeforeSmtpLatencySec;
  return m;
}

}  // namespace oxm::transport
