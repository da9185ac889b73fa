// One item of a channel: its text fields, the enclosure's three attributes, the guid with its
// isPermaLink attribute, the source with its domain attribute, the maker's "cinst" value, an
// item picture and the item's Dublin Core values.
#pragma once

#include "feeds/rssparser/src/mfd_rsschannelimage.h"
#include "feeds/rssparser/src/mfd_rssdublincore.h"
#include "feeds/rssparser/src/mfd_str.h"

#define MFD_ITEM_FIELDS(X, Type)                                                        \
  X(Type, title) X(Type, description) X(Type, link) X(Type, author) X(Type, category)  \
  X(Type, comments) X(Type, enclosureUrl) X(Type, enclosureLength) X(Type, enclosureType) \
  X(Type, guid) X(Type, guidIsPermaLink) X(Type, pubDate) X(Type, source)               \
  X(Type, sourceDomain) X(Type, cinst)

namespace oxm {

enum : int { MFD_ITEM_FIELDS(MFD_FIELD_ID, mfd_rsschannelitem) mfd_rsschannelitem_field_count };

struct mfd_rsschannelitem {
  mfd_str field[mfd_rsschannelitem_field_count];
  mfd_rsschannelimage* image;
  mfd_rssdublincore* dublincore;
};

int mfd_rsschannelitem_create(mfd_rsschannelitem** out);
// Releases the picture and the Dublin Core values, then the item; nulls the pointer.
void mfd_rsschannelitem_destroy(mfd_rsschannelitem** item);
MFD_ITEM_FIELDS(MFD_FIELD_DECLARE, mfd_rsschannelitem)
MFD_FIELD_SETTERS_DECLARE(mfd_rsschannelitem)
// 3 for null pointers, 5 when the item has none.
int mfd_rsschannelitem_get_image(const mfd_rsschannelitem* item, mfd_rsschannelimage** image);
int mfd_rsschannelitem_get_dublincore(const mfd_rsschannelitem* item, mfd_rssdublincore** dc);
// The item's picture / Dublin Core values, made when missing (2 out of memory).
int mfd_rsschannelitem_open_image(mfd_rsschannelitem* item, mfd_rsschannelimage** image);
int mfd_rsschannelitem_open_dublincore(mfd_rsschannelitem* item, mfd_rssdublincore** dc);

}  // namespace oxm
