// Reading POP3 replies: the status test, the UIDL list and its line check, the numbers of STAT
// and LIST replies, the message text of a RETR/TOP reply, and the APOP digest. Pure functions
// over bytes received from a server that may be hostile: nothing here trusts a length, reads
// past its input or grows without bound beyond the input's own size.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace oxm::pop {

// The longest UIDL data line accepted as the first line of the list (without its line end),
// and the UID lengths a data line may carry.
inline constexpr size_t kMaxFirstUidlLine = 100;
inline constexpr size_t kMaxUidLength = 70;

// A good reply begins with "+OK " or "+OK\r\n".
bool isPositive(std::string_view reply);
// The reply ends with CR LF "." CR LF (the end of a multi-line reply).
bool endsMultiLine(std::string_view reply);

// A UIDL data line: digits, one blank, then 1 to 70 bytes of UID. The line "." passes too.
bool uidlLineOk(std::string_view line);

// The first part of a UIDL reply, checked before the rest arrives.
enum class UidlStart {
  NeedMore,  // nothing after the status line yet, or the first data line is still incomplete
  Ok,        // the first data line is complete and good (or the list is empty)
  Bad,       // the first data line is longer than 100 bytes or fails the line check
};
UidlStart checkUidlStart(std::string_view reply);

// The data lines of a whole UIDL reply (between the status line and the terminator). Returns
// 0, POP_UIDL_LIST_ERR when the reply holds no ".\r\n" at all, or POP_RESPONSE_ERR for a line
// that fails the check; *lines is filled only on success.
unsigned splitUidlList(std::string_view reply, std::vector<std::string>* lines);

// The message number of a data line (the text before the first blank) and its UID (after it).
std::string_view lineNumber(std::string_view line);
std::string_view lineUid(std::string_view line);

// "+OK count size" of STAT, "+OK n size" of LIST n: the two numbers after "+OK ". A missing or
// malformed number reads as 0; numbers are capped at 2^31 - 1.
void parseTwoNumbers(std::string_view reply, long* first, long* second);
// Calls `line` with the number and size of every data line of a multi-line LIST reply.
void forEachListLine(std::string_view reply,
                     const std::function<void(std::string_view number, long size)>& line);

// The message text of a complete RETR/TOP reply, still dot-stuffed: the status line and the
// terminator removed, so that the text ends with one CR LF. False for an empty reply.
bool extractMessage(std::string_view reply, std::string* text);

// A set of UIDs asked "does this line hold one of you": a UID is held when its text occurs
// anywhere in the line, message number included (a substring test, not equality). Lines are
// probed once per distinct UID length through a hash set, so a list of 100,000 known UIDs
// against 100,000 lines stays linear. Empty UIDs name nothing and are left out.
class UidSet {
 public:
  template <typename Range>
  explicit UidSet(const Range& uids) {
    for (const auto& uid : uids) add(uid);
  }
  bool heldBy(std::string_view line) const;
  bool empty() const { return uids_.empty(); }

 private:
  void add(std::string_view uid);
  std::unordered_set<std::string_view> uids_;  // views of the caller's strings
  std::vector<size_t> lengths_;                // distinct lengths, ascending
};

// APOP: the greeting's timestamp from the first "<" to the first ">" after it (empty when there
// is none) and the lower-case hexadecimal MD5 of the timestamp followed by the password.
std::string apopTimestamp(std::string_view greeting);
std::string apopDigest(std::string_view timestamp, std::string_view password);

}  // namespace oxm::pop
