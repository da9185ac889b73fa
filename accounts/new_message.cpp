#include "accounts/new_message.h"

#include <memory>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "frame/scope_guard.h"
#include "store/folder_interface.h"
#include "store/message_maker.h"
#include "store/storage_interface.h"

namespace oxm {

OxMessageInterface::Attributes newMessageAttributes(EmlCompose& codec, const Email& header, bool hasAttachments,
                                                    unsigned int numericAttribute, const SYSTEMTIME& localTime) {
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_FILE_MASK | OxMessageInterface::ATTR_HEADER_MASK;
  a.flags[OxMessageInterface::FLAG_ATTACHMENT] = hasAttachments ? 1 : 0;
  a.numericAttribute = numericAttribute;
  a.time = OxMessageInterface::LocalTimeToSystemTime(localTime);
  a.date = a.time;
  if (!header.to.empty()) {
    std::wstring name;
    codec.ParseAddress(header.to.front(), &a.toAddress, &name);
  }
  a.fromAddress = header.from;
  a.fromName = header.fromName;
  a.subject = header.subject;
  return a;
}

bool storeNewMessage(OxStorageInterface& storage, OxFolderInterface& folder, const std::string& text,
                     const OxMessageInterface::Attributes& attributes, FirstWrite first, unsigned long* id) {
  unsigned long made = 0;
  const unsigned long size = static_cast<unsigned long>(text.size());
  // Attributes first: the message is made with them, its list line and file header written once.
  const bool created = first == FirstWrite::Attributes ? MessageMaker::create(folder, size, attributes, &made)
                                                     : folder.CreateMessage(&made, size);
  if (!created) return false;
  ScopeGuard removeMessage([&] {
    const unsigned int code = GetOxMiddleError();
    folder.RemoveMessage(made);
    SetOxMiddleError(code);
  });
  std::unique_ptr<OxMessageInterface> message(storage.OpenMessage(made));
  if (!message) return false;
  const bool stored = first == FirstWrite::Text ? message->Write(text) && message->SetAttributes(attributes)
                                                : message->Write(text);
  if (!stored) return false;
  removeMessage.dismiss();
  *id = made;
  return true;
}

}  // namespace oxm
