// OxIdTraits: an identifier allocator over a base directory (S\TREE for folders, S\DATA for
// messages) with its file base\Status.txt, "%04X\t%X" of the next identifier and the item count,
// no line end.
#pragma once

#include <string>

#include "platform/filestamp.h"
#include "platform/mutex.h"
#include "store/storefile.h"

namespace oxm {

// Invariants, under the mutex:
// - next_ <= kMaxId; count_ is the count last read from or written to Status.txt, and the file
//   holds exactly "%04X\t%X" of (some next identifier, count_).
// - stamp_ names the Status.txt that next_ and count_ came from; when another process replaced
//   the file, both are read again before use.
// - While a batch holds the file back (held_: a count change or a taken identifier may be pending,
//   even when the changes add up to 0), count_ is the file's count plus heldDelta_, the
//   changes not written yet, and next_ stays this process's own.
class OxIdTraits {
 public:
  OxIdTraits(std::wstring base, StoreFile kind);
  OxIdTraits(const OxIdTraits&) = delete;
  OxIdTraits& operator=(const OxIdTraits&) = delete;

  // Reads Status.txt: the kind's pre-open, open and read codes.
  unsigned load();
  // The current next identifier; advances it (in memory only), wrapping after kMaxId.
  unsigned long takeNext();
  // Changes the count by `delta` and rewrites Status.txt crash-safely (the kind's codes); in a
  // batch that holds the file back, in memory only.
  unsigned changeCount(long delta);
  // Writes what a batch held back, added to the count the file has now.
  unsigned writeHeldBack();
  // The count, read again first when another process changed it (0 when that read fails).
  unsigned long count();

  NamedMutex& mutex() { return mutex_; }
  const std::wstring& base() const { return base_; }

  // The text of a Status.txt.
  static std::string statusText(unsigned long next, unsigned long count);
  // Parses a Status.txt: optional blanks, up to four hex digits, blanks, hex digits. False when
  // either field is missing.
  static bool parseStatus(const std::string& text, unsigned long* next, unsigned long* count);

 private:
  unsigned refresh();
  unsigned write(unsigned long count);

  const std::wstring base_;
  const std::wstring status_;
  const StoreFile kind_;
  NamedMutex mutex_{L"OxIdTraits Mutex"};
  FileStamp stamp_;
  unsigned long next_ = 0;
  unsigned long count_ = 0;
  bool held_ = false;
  long long heldDelta_ = 0;
};

}  // namespace oxm
