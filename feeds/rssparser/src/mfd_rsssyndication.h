// The Syndication values (http://purl.org/rss/1.0/modules/syndication/) of a channel or a channel
// set. updatePeriod is one of "hourly", "daily", "weekly", "monthly", "yearly" (else 4).
#pragma once

#include "feeds/rssparser/src/mfd_str.h"

#define MFD_SYNDICATION_FIELDS(X, Type) \
  X(Type, updatePeriod) \
  X(Type, updateFrequency) \
  X(Type, updateBase)

namespace oxm {

enum : int { MFD_SYNDICATION_FIELDS(MFD_FIELD_ID, mfd_rsssyndication) mfd_rsssyndication_field_count };

struct mfd_rsssyndication {
  mfd_str field[mfd_rsssyndication_field_count];
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_rsssyndication_create(mfd_rsssyndication** out);
// Releases the object and nulls the pointer (null is ignored).
void mfd_rsssyndication_destroy(mfd_rsssyndication** object);
MFD_SYNDICATION_FIELDS(MFD_FIELD_DECLARE, mfd_rsssyndication)
MFD_FIELD_SETTERS_DECLARE(mfd_rsssyndication)

}  // namespace oxm
