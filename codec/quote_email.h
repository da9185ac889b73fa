// QuoteEmail turns a received or sent message into the draft of a reply, a reply to all, a
// follow-up or a forward: addresses, subject prefix, quoted body under a Japanese attribution
// line, and the enclosures that travel with the draft.
#pragma once

#include <string>

#include "codec/email.h"

class QuoteEmail {
 public:
  // The kinds of draft.
  enum : int {
    REPLY = 1,         // To = the Reply-To address, or the sender; "Re: "
    REPLY_ALL = 2,     // as REPLY, and Cc = the old To list then the old Cc list
    FORWARD = 3,       // no addresses; "Fw: "; the body between forward marks
    FOLLOW_UP = 4,     // the old addresses kept; "Re: "; a follow-up line
    FOLLOW_UP_2 = 5,   // the same as FOLLOW_UP
    FORWARD_SENT = 6,  // as FORWARD, for a message the user sent
  };

  QuoteEmail() = default;
  virtual ~QuoteEmail() = default;

  // Edits *mail in place into the draft of `kind`, from the user's own address: header, then
  // subject ("Re: " unless the subject already begins with "re:" in any case; "Fw: " always
  // for forwards), body, enclosures (forwards keep all; replies and follow-ups keep the first
  // one of a picture mail and none otherwise). When the registry string "FilesID" under
  // HKEY_CURRENT_USER\Software\Tamarin\OxMail reads "count:n1,n2,..." (0-based positions, ","
  // or ";" between them), those enclosures of the original are also appended to relatedFiles.
  // An unknown kind only changes From and empties the other addresses. Null mail: false,
  // OXMDL_ERR_MIME_NULL_ARG; otherwise true and no code is set.
  bool Convertmaildata(int kind, const std::wstring& ownAddress, Email* mail);
  // The address half: From = ownAddress, the rest by kind; forwards also drop messageId,
  // inReplyTo and references, so that the draft is no reply. Null mail: nothing happens.
  void Editmail_header(int kind, const std::wstring& ownAddress, Email* mail);
  // The body half: the body with ">" before each line, under the attribution for the kind
  // built from dateLine and name. An unknown kind, or a null body, leaves it unchanged.
  void Editmail_bodydata(int kind, const std::wstring& dateLine, const std::wstring& name, std::wstring* body);
};
