// A channel: its text fields (the cloud's five attributes and the RDF "rdf:about" value among
// them), its picture and text input, the hours and days to skip, its items, and its Dublin Core
// and Syndication values.
#pragma once

#include "feeds/rssparser/src/mfd_list.h"
#include "feeds/rssparser/src/mfd_rsschannelimage.h"
#include "feeds/rssparser/src/mfd_rsschannelitem.h"
#include "feeds/rssparser/src/mfd_rsschanneltextinput.h"
#include "feeds/rssparser/src/mfd_rssdublincore.h"
#include "feeds/rssparser/src/mfd_rsssyndication.h"
#include "feeds/rssparser/src/mfd_str.h"

#define MFD_CHANNEL_FIELDS(X, Type)                                                           \
  X(Type, title) X(Type, link) X(Type, description) X(Type, language) X(Type, copyright)     \
  X(Type, managingEditor) X(Type, webMaster) X(Type, pubDate) X(Type, lastBuildDate)         \
  X(Type, category) X(Type, generator) X(Type, docs) X(Type, cloudDomain) X(Type, cloudPort) \
  X(Type, cloudPath) X(Type, cloudRegisterProcedure) X(Type, cloudProtocol) X(Type, ttl)     \
  X(Type, rating) X(Type, about)

namespace oxm {

enum : int { MFD_CHANNEL_FIELDS(MFD_FIELD_ID, mfd_rsschannel) mfd_rsschannel_field_count };

struct mfd_rsschannel {
  mfd_str field[mfd_rsschannel_field_count];
  mfd_rsschannelimage* image;
  mfd_rsschanneltextinput* textinput;
  mfd_rssdublincore* dublincore;
  mfd_rsssyndication* syndication;
  mfd_list* items;      // of mfd_rsschannelitem*
  mfd_list* skipHours;  // of wchar_t* (zero-ended)
  mfd_list* skipDays;   // of wchar_t*: "Monday" ... "Sunday"
};

int mfd_rsschannel_create(mfd_rsschannel** out);
// Releases every item, the other children, then the channel; nulls the pointer.
void mfd_rsschannel_destroy(mfd_rsschannel** channel);
MFD_CHANNEL_FIELDS(MFD_FIELD_DECLARE, mfd_rsschannel)
MFD_FIELD_SETTERS_DECLARE(mfd_rsschannel)

// Children and lists: 3 for null pointers, 5 when absent (a channel without items gives 5).
int mfd_rsschannel_get_image(const mfd_rsschannel* channel, mfd_rsschannelimage** image);
int mfd_rsschannel_get_textinput(const mfd_rsschannel* channel, mfd_rsschanneltextinput** textinput);
int mfd_rsschannel_get_dublincore(const mfd_rsschannel* channel, mfd_rssdublincore** dc);
int mfd_rsschannel_get_syndication(const mfd_rsschannel* channel, mfd_rsssyndication** sy);
int mfd_rsschannel_get_items(const mfd_rsschannel* channel, mfd_list** items);
int mfd_rsschannel_get_skiphours(const mfd_rsschannel* channel, mfd_list** hours);
int mfd_rsschannel_get_skipdays(const mfd_rsschannel* channel, mfd_list** days);

// Made when missing (2 out of memory).
int mfd_rsschannel_open_image(mfd_rsschannel* channel, mfd_rsschannelimage** image);
int mfd_rsschannel_open_textinput(mfd_rsschannel* channel, mfd_rsschanneltextinput** textinput);
int mfd_rsschannel_open_dublincore(mfd_rsschannel* channel, mfd_rssdublincore** dc);
int mfd_rsschannel_open_syndication(mfd_rsschannel* channel, mfd_rsssyndication** sy);
// Appends an item, which the channel then owns (on failure the caller keeps it).
int mfd_rsschannel_add_item(mfd_rsschannel* channel, mfd_rsschannelitem* item);
// Appends an hour / a day (4 for a day other than the seven English weekday names; an empty
// text is not added).
int mfd_rsschannel_add_skiphour(mfd_rsschannel* channel, const wchar_t* hour);
int mfd_rsschannel_add_skipday(mfd_rsschannel* channel, const wchar_t* day);
int mfd_rsschannel_add_skip_utf8(mfd_rsschannel* channel, bool day, const char* utf8, size_t size);

}  // namespace oxm
