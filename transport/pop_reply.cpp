#include "transport/pop_reply.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <climits>

#include "frame/oxerror.h"

namespace oxm::pop {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kTerminator = "\r\n.\r\n";

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Leading decimal digits of `text` as a number capped at LONG 2^31 - 1; 0 when there are none.
// *used is the count of digits read.
long leadingNumber(std::string_view text, size_t* used) {
  long value = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long>(value * 10 + (text[i] - '0'), INT32_MAX);
  }
  *used = i;
  return value;
}

// The data lines of a multi-line reply: after the status line, before the terminator. Empty
// when the reply does not end with the terminator.
std::string_view dataLines(std::string_view reply) {
  size_t status = reply.find(kCrlf);
  if (status == std::string_view::npos || !endsMultiLine(reply)) return {};
  size_t begin = status + 2;
  size_t end = reply.size() - 3;  // ".\r\n" of the terminator
  return begin < end ? reply.substr(begin, end - begin) : std::string_view{};
}

// Calls `each` for every CR LF-ended line of `lines` (which ends with CR LF or is empty).
template <typename Each>
bool forEachLine(std::string_view lines, Each each) {
  while (!lines.empty()) {
    size_t end = lines.find(kCrlf);
    if (end == std::string_view::npos) end = lines.size();
    if (!each(lines.substr(0, end))) return false;
    lines.remove_prefix(std::min(lines.size(), end + 2));
  }
  return true;
}

}  // namespace

bool isPositive(std::string_view reply) {
  return reply.starts_with("+OK ") || reply.starts_with("+OK\r\n");
}

bool endsMultiLine(std::string_view reply) { return reply.ends_with(kTerminator); }

bool uidlLineOk(std::string_view line) {
  if (line == ".") return true;
  size_t blank = line.find(' ');
  if (blank == std::string_view::npos || !allDigits(line.substr(0, blank))) return false;
  size_t uid = line.size() - blank - 1;
  return uid >= 1 && uid <= kMaxUidLength;
}

UidlStart checkUidlStart(std::string_view reply) {
  size_t status = reply.find(kCrlf);
  if (status == std::string_view::npos || status + 2 == reply.size()) return UidlStart::NeedMore;
  std::string_view rest = reply.substr(status + 2);
  size_t end = rest.find(kCrlf);
  if (end == std::string_view::npos) {
    // A CR at the very end may be the first half of the line end.
    size_t held = rest.ends_with('\r') ? rest.size() - 1 : rest.size();
    return held > kMaxFirstUidlLine ? UidlStart::Bad : UidlStart::NeedMore;
  }
  if (end > kMaxFirstUidlLine) return UidlStart::Bad;
  return uidlLineOk(rest.substr(0, end)) ? UidlStart::Ok : UidlStart::Bad;
}

unsigned splitUidlList(std::string_view reply, std::vector<std::string>* lines) {
  if (!endsMultiLine(reply)) return POP_UIDL_LIST_ERR;
  std::vector<std::string> out;
  bool ok = forEachLine(dataLines(reply), [&](std::string_view line) {
    if (!uidlLineOk(line)) return false;
    if (line != ".") out.emplace_back(line);
    return true;
  });
  if (!ok) return POP_RESPONSE_ERR;
  *lines = std::move(out);
  return 0;
}

std::string_view lineNumber(std::string_view line) { return line.substr(0, line.find(' ')); }

std::string_view lineUid(std::string_view line) {
  size_t blank = line.find(' ');
  return blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
}

void parseTwoNumbers(std::string_view reply, long* first, long* second) {
  *first = *second = 0;
  if (!reply.starts_with("+OK ")) return;
  reply.remove_prefix(4);
  size_t used = 0;
  *first = leadingNumber(reply, &used);
  if (used == 0 || used >= reply.size() || reply[used] != ' ') return;
  *second = leadingNumber(reply.substr(used + 1), &used);
}

void forEachListLine(std::string_view reply,
                     const std::function<void(std::string_view number, long size)>& line) {
  forEachLine(dataLines(reply), [&](std::string_view text) {
    size_t used = 0;
    line(lineNumber(text), leadingNumber(lineUid(text), &used));
    return true;
  });
}

bool extractMessage(std::string_view reply, std::string* text) {
  if (reply.empty()) return false;
  size_t status = reply.find(kCrlf);
  std::string_view body = status == std::string_view::npos ? std::string_view{} : reply.substr(status + 2);
  if (body == ".\r\n") {
    body = {};
  } else if (body.ends_with(kTerminator)) {
    body.remove_suffix(3);
  }
  text->assign(body);
  return true;
}

void UidSet::add(std::string_view uid) {
  if (uid.empty() || !uids_.insert(uid).second) return;
  auto at = std::lower_bound(lengths_.begin(), lengths_.end(), uid.size());
  if (at == lengths_.end() || *at != uid.size()) lengths_.insert(at, uid.size());
}

bool UidSet::heldBy(std::string_view line) const {
  for (size_t length : lengths_) {
    if (length > line.size()) break;
    for (size_t at = 0; at + length <= line.size(); ++at) {
      if (uids_.count(line.substr(at, length))) return true;
    }
  }
  return false;
}

std::string apopTimestamp(std::string_view greeting) {
  size_t open = greeting.find('<');
  if (open == std::string_view::npos) return {};
  size_t close = greeting.find('>', open);
  if (close == std::string_view::npos) return {};
  return std::string(greeting.substr(open, close - open + 1));
}

std::string apopDigest(std::string_view timestamp, std::string_view password) {
  std::string input;
  input.reserve(timestamp.size() + password.size());
  input.append(timestamp).append(password);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(input.data(), input.size(), md, &length, EVP_md5(), nullptr) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[md[i] >> 4];
    hex += kHex[md[i] & 15];
  }
  return hex;
}

}  // namespace oxm::pop
