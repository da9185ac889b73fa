// EmlCompose::RssEncode: the message text of one feed item.
#include "codec/emlcompose.h"
#include "frame/oxerror.h"

bool EmlCompose::RssEncode(Email* mail, std::string* out) {
  (void)mail;
  if (out) out->clear();
  SetOxMiddleError(OXMDL_ERR_MEM_SHORTAGE);  // not written yet
  return false;
}

bool EmlCompose::RssEncode(Email* mail, RawEmail_S* raw) {
  if (!raw || !raw->data) return false;
  return RssEncode(mail, raw->data);
}
