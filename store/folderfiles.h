// The two text files of a folder: the child list (.fld, "%04X\t%s\r\n" per child, the name in
// the system code page) and the message list (.msg, "%04X\t%d\t%d\r\n" per message: identifier,
// unread flag, partial flag). Parsing never reads past the text and refuses what it cannot
// represent.
#pragma once

#include <string>
#include <vector>

namespace oxm {

struct ChildEntry {
  unsigned long id;
  std::wstring name;
};

struct MessageLine {
  unsigned long id;
  bool unread;
  bool partial;
};

// Caps on what a folder file may hold; a longer file is format-illegal.
inline constexpr size_t kChildListCap = 1 << 20;
inline constexpr size_t kMessageListCap = 1 << 20;
// The longest name (in system code page bytes) that still fits a child-list line of 260 bytes.
inline constexpr size_t kMaxFolderNameBytes = 252;

// Formats the child list in the order given (callers keep it ascending). Returns the
// conversion's code; a name with CR, LF or NUL, or longer than kMaxFolderNameBytes, gives
// OXMDL_ERR_STG_FILE_FMTILLGL_FLD.
unsigned formatChildList(const std::vector<ChildEntry>& children, std::string* out);
// Lines are read as by fgets with a 260-byte buffer: a line whose fifth byte is a TAB must have
// four hex digits before it, end in CR LF and convert to wide text (else
// OXMDL_ERR_STG_FILE_FMTILLGL_FLD); other lines add nothing.
unsigned parseChildList(const std::string& text, std::vector<ChildEntry>* out);
// Checks one name for formatChildList's rules; *bytes receives its multibyte form.
unsigned checkFolderName(const std::wstring& name, std::string* bytes);

std::string formatMessageList(const std::vector<MessageLine>& lines);
// Each line must yield three fields ("%04X\t%d\t%d"), else OXMDL_ERR_STG_FILE_FMTILLGL_MSG; a
// flag other than 1 reads as 0.
unsigned parseMessageList(const std::string& text, std::vector<MessageLine>* out);

// A list this process changed from `base` into `ours` without writing it, merged with `theirs`,
// what another process wrote over `base` meanwhile: theirs in its order, less the lines removed
// here, with the flags changed here, then the lines added here.
std::vector<MessageLine> mergeMessageLists(const std::vector<MessageLine>& base, const std::vector<MessageLine>& ours,
                                           const std::vector<MessageLine>& theirs);

}  // namespace oxm
