#include "feeds/rssparser/src/mfd_rsschannelset.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

}  // namespace

void mfd_rsschannel_release(void* channel) {
  auto* c = static_cast<mfd_rsschannel*>(channel);
  mfd_rsschannel_destroy(&c);
}

int mfd_rsschannelset_create(mfd_rsschannelset** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsschannelset);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsschannelset_destroy(mfd_rsschannelset** set) {
  if (!set || !*set) return;
  mfd_rsschannelset* s = *set;
  mfd_list_destroy(&s->channels, mfd_rsschannel_release);
  mfd_rssdublincore_destroy(&s->dublincore);
  mfd_rsssyndication_destroy(&s->syndication);
  mfd_str_clear_all(s->field, mfd_rsschannelset_field_count);
  mfd_free(s);
  *set = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsschannelset, mfd_rsschannelset_field_count, valuesOf)
MFD_CHANNELSET_FIELDS(MFD_FIELD_DEFINE, mfd_rsschannelset)

int mfd_rsschannelset_get_dublincore(const mfd_rsschannelset* set, mfd_rssdublincore** dc) {
  return mfd_child_get(set, set ? set->dublincore : nullptr, dc);
}
int mfd_rsschannelset_get_syndication(const mfd_rsschannelset* set, mfd_rsssyndication** sy) {
  return mfd_child_get(set, set ? set->syndication : nullptr, sy);
}
int mfd_rsschannelset_get_channels(const mfd_rsschannelset* set, mfd_list** channels) {
  return mfd_list_get(set, set ? set->channels : nullptr, channels);
}
int mfd_rsschannelset_open_dublincore(mfd_rsschannelset* set, mfd_rssdublincore** dc) {
  return mfd_child_open(set ? &set->dublincore : nullptr, dc, mfd_rssdublincore_create);
}
int mfd_rsschannelset_open_syndication(mfd_rsschannelset* set, mfd_rsssyndication** sy) {
  return mfd_child_open(set ? &set->syndication : nullptr, sy, mfd_rsssyndication_create);
}

int mfd_rsschannelset_add_channel(mfd_rsschannelset* set, mfd_rsschannel* channel) {
  if (!set || !channel) return MFD_INVALID;
  return mfd_list_append_to(&set->channels, channel);
}

}  // namespace oxm
