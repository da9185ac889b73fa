#include "feeds/rssparser/src/mfd_rsschannel.h"

#include <cwchar>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

namespace {

const char* const* valuesOf(int) { return nullptr; }

const char* const kDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday", nullptr};

void releaseText(void* text) { mfd_free(text); }
void releaseItem(void* item) {
  auto* p = static_cast<mfd_rsschannelitem*>(item);
  mfd_rsschannelitem_destroy(&p);
}

// Appends the text of `s` (taken over on success) to a list made on first use.
int appendText(mfd_list** list, mfd_str* s) {
  if (!s->length) return MFD_OK;
  if (const int rc = mfd_list_append_to(list, s->text); rc != MFD_OK) return rc;
  *s = mfd_str{};
  return MFD_OK;
}

int addSkip(mfd_rsschannel* channel, bool day, mfd_str* s) {
  int rc = day && !mfd_str_is_one_of(s->text, s->length, kDays)
               ? MFD_BAD_VALUE
               : appendText(day ? &channel->skipDays : &channel->skipHours, s);
  mfd_str_clear(s);
  return rc;
}

}  // namespace

int mfd_rsschannel_create(mfd_rsschannel** out) {
  if (!out || *out) return MFD_INVALID;
  *out = MFD_NEW(mfd_rsschannel);
  return *out ? MFD_OK : MFD_NO_MEMORY;
}

void mfd_rsschannel_destroy(mfd_rsschannel** channel) {
  if (!channel || !*channel) return;
  mfd_rsschannel* c = *channel;
  mfd_list_destroy(&c->items, releaseItem);
  mfd_list_destroy(&c->skipHours, releaseText);
  mfd_list_destroy(&c->skipDays, releaseText);
  mfd_rsschannelimage_destroy(&c->image);
  mfd_rsschanneltextinput_destroy(&c->textinput);
  mfd_rssdublincore_destroy(&c->dublincore);
  mfd_rsssyndication_destroy(&c->syndication);
  mfd_str_clear_all(c->field, mfd_rsschannel_field_count);
  mfd_free(c);
  *channel = nullptr;
}

MFD_FIELD_SETTERS(mfd_rsschannel, mfd_rsschannel_field_count, valuesOf)
MFD_CHANNEL_FIELDS(MFD_FIELD_DEFINE, mfd_rsschannel)

int mfd_rsschannel_get_image(const mfd_rsschannel* channel, mfd_rsschannelimage** image) {
  return mfd_child_get(channel, channel ? channel->image : nullptr, image);
}
int mfd_rsschannel_get_textinput(const mfd_rsschannel* channel, mfd_rsschanneltextinput** textinput) {
  return mfd_child_get(channel, channel ? channel->textinput : nullptr, textinput);
}
int mfd_rsschannel_get_dublincore(const mfd_rsschannel* channel, mfd_rssdublincore** dc) {
  return mfd_child_get(channel, channel ? channel->dublincore : nullptr, dc);
}
int mfd_rsschannel_get_syndication(const mfd_rsschannel* channel, mfd_rsssyndication** sy) {
  return mfd_child_get(channel, channel ? channel->syndication : nullptr, sy);
}
int mfd_rsschannel_get_items(const mfd_rsschannel* channel, mfd_list** items) {
  return mfd_list_get(channel, channel ? channel->items : nullptr, items);
}
int mfd_rsschannel_get_skiphours(const mfd_rsschannel* channel, mfd_list** hours) {
  return mfd_list_get(channel, channel ? channel->skipHours : nullptr, hours);
}
int mfd_rsschannel_get_skipdays(const mfd_rsschannel* channel, mfd_list** days) {
  return mfd_list_get(channel, channel ? channel->skipDays : nullptr, days);
}

int mfd_rsschannel_open_image(mfd_rsschannel* channel, mfd_rsschannelimage** image) {
  return mfd_child_open(channel ? &channel->image : nullptr, image, mfd_rsschannelimage_create);
}
int mfd_rsschannel_open_textinput(mfd_rsschannel* channel, mfd_rsschanneltextinput** textinput) {
  return mfd_child_open(channel ? &channel->textinput : nullptr, textinput, mfd_rsschanneltextinput_create);
}
int mfd_rsschannel_open_dublincore(mfd_rsschannel* channel, mfd_rssdublincore** dc) {
  return mfd_child_open(channel ? &channel->dublincore : nullptr, dc, mfd_rssdublincore_create);
}
int mfd_rsschannel_open_syndication(mfd_rsschannel* channel, mfd_rsssyndication** sy) {
  return mfd_child_open(channel ? &channel->syndication : nullptr, sy, mfd_rsssyndication_create);
}

int mfd_rsschannel_add_item(mfd_rsschannel* channel, mfd_rsschannelitem* item) {
  if (!channel || !item) return MFD_INVALID;
  return mfd_list_append_to(&channel->items, item);
}

int mfd_rsschannel_add_skiphour(mfd_rsschannel* channel, const wchar_t* hour) {
  if (!channel || !hour) return MFD_INVALID;
  mfd_str s{};
  if (const int rc = mfd_str_set(&s, hour, wcslen(hour)); rc != MFD_OK) return rc;
  return addSkip(channel, false, &s);
}

int mfd_rsschannel_add_skipday(mfd_rsschannel* channel, const wchar_t* day) {
  if (!channel || !day) return MFD_INVALID;
  mfd_str s{};
  if (const int rc = mfd_str_set(&s, day, wcslen(day)); rc != MFD_OK) return rc;
  return addSkip(channel, true, &s);
}

int mfd_rsschannel_add_skip_utf8(mfd_rsschannel* channel, bool day, const char* utf8, size_t size) {
  if (!channel) return MFD_INVALID;
  mfd_str s{};
  if (const int rc = mfd_str_set_utf8(&s, utf8, size); rc != MFD_OK) return rc;
  return addSkip(channel, day, &s);
}

}  // namespace oxm
