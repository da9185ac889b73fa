#include "feeds/rssparser/src/mfd_rsssyndication.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const kPeriods[] = {"hourly", "daily", "weekly", "monthly", "yearly", nullptr};

const char* const* valuesOf(int field) { return field == mfd_rsssyndication_updatePeriod ? kPeriods : nullptr; }

}  // namespace

int mfd_rsssyndication_create(mfd_rsssyndication** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsssyndication);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsssyndication_destroy(mfd_rsssyndication** object) {
  if (!object || !*object) return;
  mfd_str_clear_all((*object)->field, mfd_rsssyndication_field_count);
  mfd_free(*object);
  *object = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsssyndication, mfd_rsssyndication_field_count, valuesOf)
MFD_SYNDICATION_FIELDS(MFD_FIELD_DEFINE, mfd_rsssyndication)

}  // namespace oxm
