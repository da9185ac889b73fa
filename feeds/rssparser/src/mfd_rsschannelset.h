// A channel set, the maker's portal dialect: its attributes (about, class, menu, style) and
// portal elements, stored as text without interpretation, its Dublin Core and Syndication
// values, and its channels.
#pragma once

#include "feeds/rssparser/src/mfd_list.h"
#include "feeds/rssparser/src/mfd_rsschannel.h"
#include "feeds/rssparser/src/mfd_rssdublincore.h"
#include "feeds/rssparser/src/mfd_rsssyndication.h"
#include "feeds/rssparser/src/mfd_str.h"

#define MFD_CHANNELSET_FIELDS(X, Type)                                                         \
  X(Type, about) X(Type, class) X(Type, menu) X(Type, style) X(Type, title) X(Type, link)     \
  X(Type, description) X(Type, channels) X(Type, accesskey) X(Type, image) X(Type, init)     \
  X(Type, portalmenu) X(Type, backgroundImg) X(Type, template) X(Type, touch) X(Type, count)

namespace oxm {

enum : int { MFD_CHANNELSET_FIELDS(MFD_FIELD_ID, mfd_rsschannelset) mfd_rsschannelset_field_count };

struct mfd_rsschannelset {
  mfd_str field[mfd_rsschannelset_field_count];
  mfd_rssdublincore* dublincore;
  mfd_rsssyndication* syndication;
  mfd_list* channels;  // of mfd_rsschannel*
};

int mfd_rsschannelset_create(mfd_rsschannelset** out);
// Releases every channel, the other children, then the set; nulls the pointer.
void mfd_rsschannelset_destroy(mfd_rsschannelset** set);
MFD_CHANNELSET_FIELDS(MFD_FIELD_DECLARE, mfd_rsschannelset)
MFD_FIELD_SETTERS_DECLARE(mfd_rsschannelset)

// 3 for null pointers, 5 when absent or empty.
int mfd_rsschannelset_get_dublincore(const mfd_rsschannelset* set, mfd_rssdublincore** dc);
int mfd_rsschannelset_get_syndication(const mfd_rsschannelset* set, mfd_rsssyndication** sy);
int mfd_rsschannelset_get_channels(const mfd_rsschannelset* set, mfd_list** channels);
int mfd_rsschannelset_open_dublincore(mfd_rsschannelset* set, mfd_rssdublincore** dc);
int mfd_rsschannelset_open_syndication(mfd_rsschannelset* set, mfd_rsssyndication** sy);
// Appends a channel, which the set then owns (on failure the caller keeps it).
int mfd_rsschannelset_add_channel(mfd_rsschannelset* set, mfd_rsschannel* channel);

// Releases a channel held in a list (list release function).
void mfd_rsschannel_release(void* channel);

}  // namespace oxm
