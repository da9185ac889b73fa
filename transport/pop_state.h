// The states of a POP3 conversation, numbered as the client's debug lines and logs show them
// (there is no state 20), with their names.
#pragma once

namespace oxm {

enum class PopState : int {
  Greeting = 0,        // connected; the greeting is the reply to read
  UserSent = 1,        // USER sent
  PassSent = 2,        // PASS or APOP sent
  UidlSent = 3,        // UIDL sent; the list may arrive over several passes
  ListNext = 4,        // send LIST n for the next message to count
  ListSize = 5,        // LIST n sent while counting
  StatNext = 6,        // send STAT
  StatSent = 7,        // STAT sent
  DeleReceived = 8,    // deleting messages received in earlier conversations
  RetrNext = 9,        // take the next message to fetch
  ListBeforeRetr = 10, // LIST n sent before RETR/TOP
  RetrSent = 11,       // RETR or TOP sent; the status line is in the message buffer
  RetrReading = 12,    // reading the message body
  RetrDone = 13,       // a message was handled
  DeleNext = 14,       // send DELE for the message just fetched
  DeleReply = 15,      // DELE n sent after a fetch
  LastUidl = 16,       // ask UIDL n of the last message listed
  LastUidlReply = 17,  // UIDL n sent
  DeleSelected = 18,   // deleting the selected messages
  QuitNext = 19,       // send QUIT
  QuitSent = 21,       // QUIT sent
  Finished = 22,       // the conversation is over
  ListAll = 23,        // send LIST
  ListAllReply = 24,   // LIST sent; the list may arrive over several passes
};

// "GREETING", "USER_SENT", ...; "?" for a value outside the enum.
const char* popStateName(PopState state);

}  // namespace oxm
