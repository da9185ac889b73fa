// OxMessageInterface: the exported handle to one open message of a storage. It reads and writes
// the message text and gets and sets the message's attributes (flags, time, text attribute in
// the message file; addresses, names, subject and date in the folder's header record).
//
// Every member returns false when the interface holds no message, without touching the
// last-error code; GetErrorInfo then returns OXMDL_ERR_NONE. On failure the last-error code
// (GetOxMiddleError) holds one OXMDL_ERR_* code, and the message file is left as it was: every
// rewrite goes through a temporary file that replaces the file in one step.
#pragma once

#include <string>

#include "frame/oxerror.h"
#include "platform/wintypes.h"

namespace oxm {
class OxMessage;
}  // namespace oxm

// The codec's message record. The store only passes it on to the registered codec.
struct Email;

class OxMessageInterface {
 public:
  // Bits of Attributes::mask. 0x183F concern the message file, 0x7C0 the header record.
  enum : unsigned int {
    ATTR_UNREAD = 0x01,
    ATTR_ATTACHMENT = 0x02,
    ATTR_PARTIAL = 0x04,
    ATTR_KEEP = 0x08,  // never removed by the old-message check
    ATTR_TIME = 0x10,
    ATTR_TEXT = 0x20,
    ATTR_TO_ADDRESS = 0x40,
    ATTR_FROM_ADDRESS = 0x80,
    ATTR_FROM_NAME = 0x100,
    ATTR_SUBJECT = 0x200,
    ATTR_DATE = 0x400,
    ATTR_NUMERIC = 0x800,
    ATTR_BYTE = 0x1000,
    ATTR_FILE_MASK = 0x183F,
    ATTR_HEADER_MASK = 0x7C0,
  };
  // Positions in Attributes::flags.
  enum FlagIndex : int { FLAG_UNREAD = 0, FLAG_ATTACHMENT = 1, FLAG_PARTIAL = 2, FLAG_KEEP = 3 };

  // Each field is read or written only when its bit is set in `mask`.
  struct Attributes {
    unsigned int mask = 0;
    unsigned int missingMask = 0;  // set on get: requested fields the file's version lacks
    unsigned int reserved = 0;
    unsigned int textSize = 0;     // set on every get that reads the file: its size minus 256
    unsigned char flags[4] = {0, 0, 0, 0};  // unread, attachment, partial, keep
    unsigned int numericAttribute = 0;
    unsigned char byteAttribute = 0;
    SYSTEMTIME time = {};  // UTC
    std::string text;      // at most 100 bytes are stored
    std::wstring toAddress;
    std::wstring fromAddress;
    std::wstring fromName;
    std::wstring subject;
    SYSTEMTIME date = {};  // UTC
  };

  explicit OxMessageInterface(oxm::OxMessage* message);
  // Hands the message back to its storage's message set.
  ~OxMessageInterface();
  OxMessageInterface(const OxMessageInterface&) = delete;
  OxMessageInterface& operator=(const OxMessageInterface&) = delete;

  // Replaces the message text (bytes up to the first NUL). Needs the text length rounded up to
  // 8192 plus 512000 bytes free (OXMDL_ERR_STG_DISK_FULL). The read position goes to the start
  // of the text.
  bool Write(const std::string& text);
  // Encodes `mail` with the registered codec and stores text, file attributes and header record.
  // Null: OXMDL_ERR_STG_INVALID_ARG. No codec registered: OXMDL_ERR_MEM_SHORTAGE.
  bool Write(Email* mail);
  // Appends the text from the read position to the end to *text and moves the position to the
  // end. Null: OXMDL_ERR_STG_INVALID_ARG; a file shorter than its header or than the position:
  // OXMDL_ERR_STG_FILE_FMTILLGL_EML.
  bool Read(std::string* text);
  // Moves the read position to the start of the text.
  bool SeekToHead();
  // Changes the fields selected by attr.mask. The unread and partial flags are mirrored in the
  // folder's message list and notified to its observers.
  bool SetAttributes(const Attributes& attr);
  // Fills the fields selected by attr->mask. Fields that the file's version does not hold are
  // flagged in missingMask, filled with their defaults, and the call fails with
  // OXMDL_ERR_STG_NO_ATTRIBUTE after filling everything else. Null: OXMDL_ERR_STG_INVALID_ARG.
  bool GetAttributes(Attributes* attr) const;

  // Local time to UTC and back by the current difference between the two clocks.
  static SYSTEMTIME LocalTimeToSystemTime(const SYSTEMTIME& local);
  static SYSTEMTIME SystemTimeToLocalTime(const SYSTEMTIME& utc);

  unsigned long GetErrorInfo();

 private:
  oxm::OxMessage* message_;
};
