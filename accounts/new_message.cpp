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
  // Attributes first: the message is made whole, its list line and file written once.
  if (first == FirstWrite::Attributes) return MessageMaker::create(folder, attributes, text, id);
  unsigned long made = 0;
  if (!folder.CreateMessage(&made, static_cast<unsigned long>(text.size()))) return false;
  ScopeGuard removeMessage([&] {
    const unsigned int code = GetOxMiddleError();
    folder.RemoveMessage(made);
    SetOxMiddleError(code);
  });
  std::unique_ptr<OxMessageInterface> message(storage.OpenMessage(made));
  if (!message || !message->Write(text) || !message->SetAttributes(attributes)) return false;
  removeMessage.dismiss();
  *id = made;
  return true;
}

}  // namespace oxm
