// HtmlCreater makes a simple HTML body for a message made from a feed item that has only a
// plain body: the text, the date on the right, and the item's first picture.
#pragma once

#include "codec/email.h"

class HtmlCreater {
 public:
  HtmlCreater() = default;

  // Sets mail.htmlBody to "<html>", "<body>", the plain body (not escaped: feed text is
  // already HTML), the dateText in a right-aligned div, an img element for the first enclosure
  // under the feed picture directory, "</body>", "</html>", CR LF line ends. A message that
  // already has an HTML body is left as it is. Returns false (and changes nothing) when the
  // plain body is empty, true otherwise. Sets no error code.
  bool CreateHtml(Email& mail);
};
