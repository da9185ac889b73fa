#include "accounts/new_message.h"

#include "codec/emlcompose.h"

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

}  // namespace oxm
