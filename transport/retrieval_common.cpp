#include "transport/retrieval_common.h"

#include <memory>

#include "codec/email.h"
#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"
#include "transport/account_record.h"

namespace oxm::transport {

bool readRetrievalRecord(OxAccountInfoInterface* account, OxAccountInfoInterface::Attributes* a, MailAccount* m) {
  a->mask |= kRetrievalMask;
  if (!account->GetAccountInfoAttributes(a)) return false;
  *m = serverRecord(*a);
  m->popPassword = a->strPopPasswd;
  m->partialLines = a->uiPartialRetrievingLines;
  m->deleteFromServer = a->bMessageLeavingEnabled ? 1 : 0;
  m->popBeforeSmtp = a->bPopBeforeSmtpEnabled ? 1 : 0;
  m->smtpAuthMethod = a->bSmtpAuthEnabled ? SMTP_AUTH_POP_BEFORE_SMTP : SMTP_AUTH_NONE;
  m->smtpUserName = a->strSmtpUserName;
  m->smtpPassword = a->strSmtpPasswd;
  return account->GetLastUID(&m->lastUid) && account->GetUIDL(&m->uidList);
}

bool mapSelectedMessages(const std::list<unsigned long>& messageIds, OxAccountInfoInterface* account,
                         MessageMap* map, std::list<std::string>* downloads) {
  map->clear();
  std::unique_ptr<OxStorageInterface> storage(account->OpenStorage());
  if (!storage) return false;
  for (unsigned long id : messageIds) {
    std::unique_ptr<OxMessageInterface> message(storage->OpenMessage(id));
    if (!message) return false;
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_TEXT;
    if (!message->GetAttributes(&a) && GetOxMiddleError() != OXMDL_ERR_STG_NO_ATTRIBUTE) return false;
    if (!map->emplace(a.text, MsgIdPartial{static_cast<uint32_t>(id), 0}).second) {
      SetOxMiddleError(OXMDL_ERR_RTV_UID_DUPLICATE);
      return false;
    }
    downloads->push_back(a.text);
  }
  return true;
}

bool replaceStoredMessage(OxAccountInfoInterface* account, uint32_t messageId, const std::string& text,
                          unsigned* writeCode) {
  *writeCode = 0;
  std::unique_ptr<OxStorageInterface> storage(account->OpenStorage());
  if (!storage) return false;
  std::unique_ptr<OxMessageInterface> message(storage->OpenMessage(messageId));
  if (!message) return false;
  Email mail;
  EmlCompose codec;
  if (!codec.Decode(&mail, &text)) return false;
  if (!message->Write(text)) {
    *writeCode = GetOxMiddleError();
    return false;
  }
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_ATTACHMENT | OxMessageInterface::ATTR_PARTIAL;
  a.flags[OxMessageInterface::FLAG_UNREAD] = 1;
  a.flags[OxMessageInterface::FLAG_ATTACHMENT] = mail.enclosures.empty() ? 0 : 1;
  a.flags[OxMessageInterface::FLAG_PARTIAL] = 0;
  return message->SetAttributes(a);
}

}  // namespace oxm::transport
