// The text input box a channel offers: title, description, the field name and the link it posts to.
#pragma once

#include "feeds/rssparser/src/mfd_str.h"

#define MFD_TEXTINPUT_FIELDS(X, Type) \
  X(Type, title) \
  X(Type, description) \
  X(Type, name) \
  X(Type, link)

namespace oxm {

enum : int { MFD_TEXTINPUT_FIELDS(MFD_FIELD_ID, mfd_rsschanneltextinput) mfd_rsschanneltextinput_field_count };

struct mfd_rsschanneltextinput {
  mfd_str field[mfd_rsschanneltextinput_field_count];
};

// 3 when *out is not null beforehand, 2 when memory runs out.
int mfd_rsschanneltextinput_create(mfd_rsschanneltextinput** out);
// Releases the object and nulls the pointer (null is ignored).
void mfd_rsschanneltextinput_destroy(mfd_rsschanneltextinput** object);
MFD_TEXTINPUT_FIELDS(MFD_FIELD_DECLARE, mfd_rsschanneltextinput)
MFD_FIELD_SETTERS_DECLARE(mfd_rsschanneltextinput)

}  // namespace oxm
