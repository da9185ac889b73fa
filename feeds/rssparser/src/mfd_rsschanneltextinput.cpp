#include "feeds/rssparser/src/mfd_rsschanneltextinput.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

}  // namespace

int mfd_rsschanneltextinput_create(mfd_rsschanneltextinput** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsschanneltextinput);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsschanneltextinput_destroy(mfd_rsschanneltextinput** object) {
  if (!object || !*object) return;
  mfd_str_clear_all((*object)->field, mfd_rsschanneltextinput_field_count);
  mfd_free(*object);
  *object = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsschanneltextinput, mfd_rsschanneltextinput_field_count, valuesOf)
MFD_TEXTINPUT_FIELDS(MFD_FIELD_DEFINE, mfd_rsschanneltextinput)

}  // namespace oxm
