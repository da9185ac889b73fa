// The Date field: reading a received one into device local time, and making one from the
// clock.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

struct Email;

namespace oxm {

struct DateField {
  std::string text;       // the value without comments: Email.dateText
  std::string zone;       // the normalised zone: Email.timeZone
  SYSTEMTIME local = {};  // the time moved to device local time
  bool accepted = false;  // the fields were found and lie in range
};

// Reads a Date value (unfolded, not decoded).
DateField parseDateField(std::string_view value);
// The zone of the text that follows the year: "+0900", "-0500" for "EST", "Z", ...
std::string parseTimezone(std::string_view tidied);
// Pads a signed zone of 2-4 characters to 5 ("+900" -> "+0900"); a lone sign gives "+0000".
std::string checkTimeZoneStr(std::string zone);
// Minutes that device local time is ahead of UTC, from the platform's two clocks.
long deviceOffsetMinutes();

// Appends "\nDate: Tue, 04 Dec 2007 10:00:00 +0900" made from the local clock, and sets the
// record's date and timeZone to what it wrote. The zone text is empty when the platform's
// time-zone bias is 0.
void makeDateField(std::string* out, Email* email);

}  // namespace oxm
