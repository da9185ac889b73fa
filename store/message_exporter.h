// OxMessageExporter writes the text of chosen stored messages into standalone files
// EML00000.eml, EML00001.eml, ... of a directory, skipping names that are taken. The run is
// synchronous (Fire), reports to an optional notification, and stops between files once Cancel
// was called (from any thread, or from a notification).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "store/message_interface.h"

class OxMessageExporter {
 public:
  // Called on the thread that runs Fire.
  struct Notification {
    virtual void begin(unsigned long total) = 0;
    virtual void progress(unsigned long done) = 0;  // files written so far, from 1
    virtual void end(bool cancelled) = 0;

   protected:
    ~Notification() = default;
  };

  OxMessageExporter() = default;
  ~OxMessageExporter() = default;
  OxMessageExporter(const OxMessageExporter&) = delete;
  OxMessageExporter& operator=(const OxMessageExporter&) = delete;

  // The messages to export, in order; the interfaces stay the caller's and must stay open
  // until Fire returns. An empty vector: OXMDL_ERR_EXP_SOURCE_EMPTY, the list unchanged. A
  // null element: OXMDL_ERR_EXP_SOURCE_NULL, the elements before it are taken.
  bool SetSource(const std::vector<OxMessageInterface*>& sources);
  // The directory (a device path; it must exist). A backslash is appended when the path does
  // not end in one. Empty: OXMDL_ERR_EXP_DEST_EMPTY.
  bool SetDestination(const std::wstring& dir);
  // Null: OXMDL_ERR_EXP_NOTIFY_NULL.
  bool RegisterNotification(Notification* notification);
  // Stops the run before its next file; the flag stays set for this object.
  bool Cancel();
  // Writes each message's text from its read position (OxMessageInterface::Read) into a new
  // file of the next free name. begin(count) comes first and end(cancelled) last, also after a
  // failure. No source: OXMDL_ERR_EXP_NO_SOURCE; no directory: OXMDL_ERR_EXP_NO_DEST (neither
  // notifies). Cancelled: OXMDL_ERR_EXP_CANCEL. A message that cannot be read keeps its own
  // code; a file that cannot be created is OXMDL_ERR_EXP_CREATE, one that cannot be written
  // OXMDL_ERR_EXP_WRITE (and is deleted), either OXMDL_ERR_EXP_DISK_FULL on a full disk. The
  // first failure ends the run; the files written before it stay. True only when every
  // message was written.
  bool Fire();
  unsigned long GetErrorInfo();

 private:
  std::vector<OxMessageInterface*> sources_;
  std::wstring destination_;
  Notification* notification_ = nullptr;
  std::atomic<bool> cancel_{false};
};
