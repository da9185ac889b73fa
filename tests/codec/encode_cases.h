// The composed messages of the encoding tests, also handed to tests/corpus/encode_interop.cpp.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "codec/email.h"

namespace oxm::test {

struct EncodeCase {
  std::string name;
  Email mail;
  std::vector<std::pair<std::string, std::string>> files;  // device-relative path, bytes
};

inline EncodeCase composed(const std::string& name, const std::wstring& subject, const std::wstring& body) {
  EncodeCase c{name, {}, {}};
  c.mail.from = L"taro@example.jp";
  c.mail.fromName = L"Taro";
  c.mail.to = {L"hanako@example.jp"};
  c.mail.subject = subject;
  c.mail.body = body;
  return c;
}

inline Enclosure attachment(const std::wstring& folder, const std::wstring& name) {
  Enclosure e;
  e.folder = folder;
  e.name = name;
  return e;
}

inline EncodeCase plainAsciiCase() {
  EncodeCase c = composed("plain-ascii", L"Lunch", L"See you at noon.\r\n");
  c.mail.to = {L"Hanako <hanako@example.jp>"};
  return c;
}
// One of the device's own pictograms (U+E000 is the heart, 0xF040) and a "<".
inline EncodeCase pictogramCase() { return composed("pictogram", L"Heart", L"I \uE000 you <3"); }
inline EncodeCase htmlAttachmentCase() {
  EncodeCase c = composed("html-attachment", L"Photo", L"See the photo.");
  c.mail.htmlBody = L"<p>See the <b>photo</b>.</p>";
  c.mail.enclosures.push_back(attachment(L"att", L"photo.jpg"));
  c.files.push_back({"att/photo.jpg", std::string("\xFF\xD8\xFF\xE0JFIF", 8)});
  return c;
}
inline EncodeCase threeToCase() {
  EncodeCase c = composed("three-to", L"Meeting", L"Room 3.");
  c.mail.to = {L"a@example.jp", L"\"B\" <b@example.jp>", L"c@example.jp"};
  return c;
}

// A reply to a message without References, and to one with References and In-Reply-To.
inline EncodeCase replyCase() {
  EncodeCase c = composed("reply", L"Re: Lunch", L"Yes.");
  c.mail.messageId = L"orig@example.jp";
  return c;
}
inline EncodeCase replyWithReferencesCase() {
  EncodeCase c = replyCase();
  c.name = "reply-references";
  c.mail.references = L"root@example.jp";
  c.mail.inReplyTo = L"parent@example.jp";
  return c;
}

// The above, Japanese text, and Japanese names of a sender and an attachment with a Cc.
inline std::vector<EncodeCase> allEncodeCases() {
  EncodeCase japanese = composed("japanese-attachment", L"資料をお送りします", L"添付をご確認ください。");
  japanese.mail.fromName = L"山田太郎";
  japanese.mail.cc = {L"jiro@example.jp"};
  japanese.mail.enclosures.push_back(attachment(L"att\\", L"見積書.pdf"));
  japanese.files.push_back({"att/見積書.pdf", std::string("%PDF-1.4\n\0\x01\x02\xFF", 14)});
  return {plainAsciiCase(), composed("japanese", L"日本語の件名", L"漢字を含む本文です。\r\n二行目"),
          pictogramCase(),  htmlAttachmentCase(), threeToCase(), replyCase(), replyWithReferencesCase(), japanese};
}

}  // namespace oxm::test
