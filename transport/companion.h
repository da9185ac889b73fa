// The companion library "OxMailDynCall.dll", which wants to know whether the mail program
// holds the phone's data connection.
#pragma once

namespace oxm {

// 0: the mail program takes the connection, 1: it gives it back. A missing library or entry
// point is ignored.
void setSecondRingForEmailApp(int flag);

}  // namespace oxm
