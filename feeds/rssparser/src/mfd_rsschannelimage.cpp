#include "feeds/rssparser/src/mfd_rsschannelimage.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

}  // namespace

int mfd_rsschannelimage_create(mfd_rsschannelimage** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsschannelimage);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsschannelimage_destroy(mfd_rsschannelimage** object) {
  if (!object || !*object) return;
  mfd_str_clear_all((*object)->field, mfd_rsschannelimage_field_count);
  mfd_free(*object);
  *object = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsschannelimage, mfd_rsschannelimage_field_count, valuesOf)
MFD_IMAGE_FIELDS(MFD_FIELD_DEFINE, mfd_rsschannelimage)

}  // namespace oxm
