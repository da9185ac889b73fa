// The message record and its companions, shared by decoding, encoding, the store and the
// transport. Plain structures, copied by value; text fields are wide (decoded) or narrow (the
// system code page, CP932) as stated.
#pragma once

#include <list>
#include <string>

#include "platform/wintypes.h"

// One MIME part of a received message, or one file to attach to an outgoing one. A received
// part's content is not copied: bodyOffset and bodyLength locate it in the decoded message
// text (LF line ends), and EmlCompose::GetEnclosure cuts it out.
struct Enclosure {
  DWORD index = 0;              // 0-based order of extraction within the message
  std::wstring displayName;     // filename if present, else name
  std::wstring name;            // "name" / "name*" parameter of Content-Type
  std::wstring folder;          // device directory the file is read from or written to
  std::wstring link;            // not read or written by the codec (the feed side uses it)
  std::wstring type;            // media type before "/", lower case
  std::wstring subtype;         // media subtype after "/"
  std::wstring transferEncoding;
  std::wstring extra;           // not read or written by the codec
  bool extracted = false;       // cleared when the part is added to a list; the feed side uses it
  bool inlineDisposition = false;
  DWORD bodyOffset = 0;
  DWORD bodyLength = 0;
  std::wstring charset;         // "US-ASCII" when the parameter is present but empty
  std::wstring boundary;        // multipart parts: "--" + the boundary parameter
  std::wstring disposition;
  std::wstring filename;        // "filename" / "filename*" parameter of Content-Disposition
  std::wstring contentId;       // without angle brackets
  std::wstring contentBase;
  std::wstring contentLocation;  // without a "cid: " prefix
};

struct Email {
  std::wstring from;  // bare address
  std::list<std::wstring> to;
  std::list<std::wstring> cc;
  std::list<std::wstring> bcc;
  std::wstring replyTo;
  // Belongs to the program: the codec never reads or writes it, and clearEmail keeps it.
  std::wstring appData;
  SYSTEMTIME date = {};          // device local time
  std::wstring timeZone;         // "+0900", "Z", ...
  std::wstring messageId;        // without angle brackets
  std::wstring inReplyTo;
  std::wstring references;       // the last bracketed id of the field
  std::wstring subject;
  std::wstring body;             // CR LF line ends
  std::wstring htmlBody;         // CR LF line ends
  std::list<Enclosure> enclosures;
  std::wstring fromName;         // display part of From, in double quotes
  std::wstring dateText;
  std::wstring mlName;           // "x-ml-name:"
  std::wstring senderLabel;      // filled by the caller only
  std::list<Enclosure> relatedFiles;  // parts of an HTML message that carry a Content-ID
  bool pictureMail = false;
  bool feedMessage = false;
  bool feedDownload = false;
  std::wstring feedDownloadValue;
  bool summaryOnly = false;
  std::string synthesizedDate;   // a whole "Date: ...\r\n" line when the message had no usable Date
  std::wstring outerBodyKind;    // only on the record of an attached message: "html" or "text"
  bool nestedMessage = false;    // only on the record of an attached message
};

// One outgoing message ready for SMTP.
struct RawEmail_S {
  std::string envelopeFrom;
  std::list<std::string> recipients;  // To, Cc and Bcc, in that order
  std::string* data = nullptr;        // the whole message, CR LF line ends; owned by the caller
};

// The multipart levels an outgoing message needs.
struct MimeFlags {
  bool mixed = false;
  bool alternative = false;
  bool related = false;
  bool first = false;
};

struct BoundStr {
  std::string mixed;
  std::string alternative;
  std::string related;
  std::string enclosures;  // the boundary the enclosures are written under
};
