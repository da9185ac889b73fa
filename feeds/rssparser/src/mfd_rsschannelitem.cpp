#include "feeds/rssparser/src/mfd_rsschannelitem.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

}  // namespace

int mfd_rsschannelitem_create(mfd_rsschannelitem** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsschannelitem);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsschannelitem_destroy(mfd_rsschannelitem** item) {
  if (!item || !*item) return;
  mfd_rsschannelimage_destroy(&(*item)->image);
  mfd_rssdublincore_destroy(&(*item)->dublincore);
  mfd_str_clear_all((*item)->field, mfd_rsschannelitem_field_count);
  mfd_free(*item);
  *item = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsschannelitem, mfd_rsschannelitem_field_count, valuesOf)
MFD_ITEM_FIELDS(MFD_FIELD_DEFINE, mfd_rsschannelitem)

int mfd_rsschannelitem_get_image(const mfd_rsschannelitem* item, mfd_rsschannelimage** image) {
  return mfd_child_get(item, item ? item->image : nullptr, image);
}

int mfd_rsschannelitem_get_dublincore(const mfd_rsschannelitem* item, mfd_rssdublincore** dc) {
  return mfd_child_get(item, item ? item->dublincore : nullptr, dc);
}

int mfd_rsschannelitem_open_image(mfd_rsschannelitem* item, mfd_rsschannelimage** image) {
  return mfd_child_open(item ? &item->image : nullptr, image, mfd_rsschannelimage_create);
}

int mfd_rsschannelitem_open_dublincore(mfd_rsschannelitem* item, mfd_rssdublincore** dc) {
  return mfd_child_open(item ? &item->dublincore : nullptr, dc, mfd_rssdublincore_create);
}

}  // namespace oxm
