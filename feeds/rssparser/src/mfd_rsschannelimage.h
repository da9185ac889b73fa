// The picture of a channel or of an item: its title, address, link, size and description.
#pragma once

#include "feeds/rssparser/src/mfd_str.h"

#define MFD_IMAGE_FIELDS(X, Type) \
  X(Type, title) \
  X(Type, url) \
  X(Type, link) \
  X(Type, width) \
  X(Type, height) \
  X(Type, description)

namespace oxm {

enum : int { MFD_IMAGE_FIELDS(MFD_FIELD_ID, mfd_rsschannelimage) mfd_rsschannelimage_field_count };

struct mfd_rsschannelimage {
  mfd_str field[mfd_rsschannelimage_field_count];
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_rsschannelimage_create(mfd_rsschannelimage** out);
// Releases the object and nulls the pointer (null is ignored).
void mfd_rsschannelimage_destroy(mfd_rsschannelimage** object);
MFD_IMAGE_FIELDS(MFD_FIELD_DECLARE, mfd_rsschannelimage)
MFD_FIELD_SETTERS_DECLARE(mfd_rsschannelimage)

}  // namespace oxm
