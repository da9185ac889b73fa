#include "transport/reply_end.h"

namespace oxm::transport {

void LineEnd::reset() {
  cr_ = false;
  ended_ = false;
}

size_t LineEnd::feed(const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (cr_ && data[i] == '\n') {
      ended_ = true;
      return i + 1;
    }
    cr_ = data[i] == '\r';
  }
  return npos;
}

void DotEnd::reset() {
  match_ = 0;
  first_ = true;
  error_ = false;
  cr_ = false;
  ended_ = false;
}

size_t DotEnd::feed(const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (first_) {
      first_ = false;
      error_ = c == '-';
    }
    if (error_) {
      if (cr_ && c == '\n') {
        ended_ = true;
        return i + 1;
      }
      cr_ = c == '\r';
      continue;
    }
    // The matcher of "\r\n.\r\n": on a mismatch a CR starts a new match.
    static const char kEnd[] = "\r\n.\r\n";
    if (c == kEnd[match_]) {
      if (++match_ == 5) {
        ended_ = true;
        return i + 1;
      }
    } else {
      match_ = c == '\r' ? 1 : 0;
    }
  }
  return npos;
}

void SmtpEnd::reset() {
  length_ = 0;
  cr_ = false;
  ended_ = false;
}

size_t SmtpEnd::feed(const char* data, size_t size) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (cr_ && c == '\n') {
      size_t text = length_ - 1;  // the line without its CR
      bool last = text >= 3 && digit(head_[0]) && digit(head_[1]) && digit(head_[2]) &&
                  (text == 3 || head_[3] == ' ');
      length_ = 0;
      cr_ = false;
      if (last) {
        ended_ = true;
        return i + 1;
      }
      continue;
    }
    if (length_ < 4) head_[length_] = c;
    ++length_;
    cr_ = c == '\r';
  }
  return npos;
}

}  // namespace oxm::transport
