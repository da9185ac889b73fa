// The Dublin Core values (http://purl.org/dc/elements/1.1/) of a channel, an item or a channel set.
#pragma once

#include "feeds/rssparser/src/mfd_str.h"

#define MFD_DUBLINCORE_FIELDS(X, Type) \
  X(Type, contributor) \
  X(Type, coverage) \
  X(Type, creator) \
  X(Type, date) \
  X(Type, description) \
  X(Type, format) \
  X(Type, identifier) \
  X(Type, language) \
  X(Type, publisher) \
  X(Type, relation) \
  X(Type, rights) \
  X(Type, source) \
  X(Type, subject) \
  X(Type, title) \
  X(Type, type)

namespace oxm {

enum : int { MFD_DUBLINCORE_FIELDS(MFD_FIELD_ID, mfd_rssdublincore) mfd_rssdublincore_field_count };

struct mfd_rssdublincore {
  mfd_str field[mfd_rssdublincore_field_count];
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_rssdublincore_create(mfd_rssdublincore** out);
// Releases the object and nulls the pointer (null is ignored).
void mfd_rssdublincore_destroy(mfd_rssdublincore** object);
MFD_DUBLINCORE_FIELDS(MFD_FIELD_DECLARE, mfd_rssdublincore)
MFD_FIELD_SETTERS_DECLARE(mfd_rssdublincore)

}  // namespace oxm
