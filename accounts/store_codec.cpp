#include "accounts/store_codec.h"

#include "codec/address.h"
#include "codec/decode.h"
#include "codec/email.h"
#include "codec/encode.h"
#include "frame/oxerror.h"

namespace oxm {

namespace {

// None of these touch the last-error variable: the store reports the codes it gets back.
class StoreCodec final : public MessageCodec {
 public:
  unsigned decodeFields(const std::string& text, MessageFields* out) override {
    Email mail;
    const unsigned code = decode(text, &mail);
    if (code != OXMDL_ERR_NONE) return code;
    *out = fieldsOf(mail);
    return OXMDL_ERR_NONE;
  }

  unsigned encode(Email* mail, EncodedMessage* out) override {
    std::string text;
    RawEmail_S envelope;
    const unsigned code = encodeMessage(mail, &text, &envelope);
    if (code != OXMDL_ERR_NONE) return code;
    out->text = std::move(text);
    out->fields = fieldsOf(*mail);  // its date is now the one the text carries
    // What the text attribute holds for a composed message is set by the callers that know;
    // the codec leaves it empty.
    out->textAttribute.clear();
    return OXMDL_ERR_NONE;
  }

  // A message with nothing but its text (no enclosures, or a picture mail with one picture)
  // has nothing that may go.
  unsigned removeAttachments(const std::string& text, std::string* out) override {
    Email mail;
    const unsigned code = decode(text, &mail);
    if (code != OXMDL_ERR_NONE) return code;
    if (!mail.pictureMail && mail.enclosures.empty()) return OXMDL_ERR_ATT_SINGLE_PART;
    return copyWithoutEnclosures(&mail, text, out);
  }

 private:
  static unsigned decode(const std::string& text, Email* mail) {
    std::string lf;
    const unsigned code = convertDecodeData(text, &lf);
    return code != OXMDL_ERR_NONE ? code : decodeCore(mail, lf, 0);
  }

  static MessageFields fieldsOf(const Email& mail) {
    MessageFields fields;
    if (!mail.to.empty()) {
      std::wstring name;
      parseSingleAddress(mail.to.front(), &fields.toAddress, &name);
    }
    fields.fromAddress = mail.from;
    fields.fromName = mail.fromName;
    fields.subject = mail.subject;
    fields.localDate = mail.date;
    fields.hasEnclosures = !mail.enclosures.empty();
    return fields;
  }
};

StoreCodec instance;

// Registered when the library is loaded.
const bool registered = [] {
  registerMessageCodec(&instance);
  return true;
}();

}  // namespace

MessageCodec& storeCodec() { return instance; }

}  // namespace oxm
