// The store's hook to the message codec. The store files message text; turning text into header
// fields, an Email record into text, or stripping a message's attachments is the codec's work,
// and the codec is built above the store. The library registers one implementation of this
// interface when it loads (accounts/store_codec.cpp); while none is registered, every store
// operation that needs it (OxMessageInterface::Write(Email*), RestoreFolderMessageHeader and
// the recoveries that rebuild header caches, RemoveAttachments, the message importer) fails
// with OXMDL_ERR_MEM_SHORTAGE: the codec object the operation needs cannot be had.
#pragma once

#include <string>

#include "platform/wintypes.h"

struct Email;

namespace oxm {

// What a header record and the message file's attributes are made from.
struct MessageFields {
  std::wstring toAddress;  // bare address of the first To entry, empty when none
  std::wstring fromAddress;
  std::wstring fromName;
  std::wstring subject;
  SYSTEMTIME localDate = {};  // the message date in local time
  bool hasEnclosures = false;  // the message has attachments
};

// An Email encoded for storing.
struct EncodedMessage {
  std::string text;           // the message text as stored after the file header
  MessageFields fields;
  std::string textAttribute;  // what goes into the file's text attribute
};

class MessageCodec {
 public:
  virtual ~MessageCodec() = default;
  // Decodes stored message text (header decoding) into the fields of its header record.
  virtual unsigned decodeFields(const std::string& text, MessageFields* out) = 0;
  // Encodes an Email for storing.
  virtual unsigned encode(Email* mail, EncodedMessage* out) = 0;
  // The message text without its attachments; OXMDL_ERR_ATT_SINGLE_PART when there is nothing
  // that may be removed.
  virtual unsigned removeAttachments(const std::string& text, std::string* out) = 0;
};

// Installs the codec for the whole process (null removes it); the caller keeps it alive.
void registerMessageCodec(MessageCodec* codec);
// The registered codec, or null.
MessageCodec* messageCodec();
// OXMDL_ERR_NONE with *codec set, or OXMDL_ERR_MEM_SHORTAGE when none is registered.
unsigned requireMessageCodec(MessageCodec** codec);

}  // namespace oxm
