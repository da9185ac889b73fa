// OxMessageImporter reads message files (any RFC 822 text), decodes each with the codec the
// store has registered, and files it as a new unread message with its attributes and header
// record in a chosen folder. The run is synchronous (Fire), reports to an optional
// notification, and stops between files once Cancel was called.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "store/folder_interface.h"

class OxMessageImporter {
 public:
  // Called on the thread that runs Fire.
  struct Notification {
    virtual void begin(unsigned long total) = 0;
    virtual void progress(unsigned long done) = 0;  // messages imported so far, from 1
    virtual void end(bool cancelled) = 0;

   protected:
    ~Notification() = default;
  };

  OxMessageImporter() = default;
  ~OxMessageImporter() = default;
  OxMessageImporter(const OxMessageImporter&) = delete;
  OxMessageImporter& operator=(const OxMessageImporter&) = delete;

  // The files to import (device paths), in order. An empty vector:
  // OXMDL_ERR_IMP_SOURCE_EMPTY, the list unchanged; an empty path: OXMDL_ERR_IMP_SOURCE_PATH,
  // the paths before it are taken.
  bool SetSource(const std::vector<std::wstring>& paths);
  // The folder the messages go to; it stays the caller's. Null: OXMDL_ERR_IMP_DEST_NULL.
  bool SetDestination(OxFolderInterface* folder);
  // Null: OXMDL_ERR_IMP_NOTIFY_NULL.
  bool RegisterNotification(Notification* notification);
  // Stops the run before its next file; the flag stays set for this object.
  bool Cancel();
  // Imports each file: its bytes up to the first NUL become the message text. begin(count)
  // comes first and end(cancelled) last, also after a failure. No source:
  // OXMDL_ERR_IMP_NO_SOURCE; no folder: OXMDL_ERR_IMP_NO_DEST (neither notifies). Cancelled:
  // OXMDL_ERR_IMP_CANCEL. A file that cannot be opened: OXMDL_ERR_IMP_OPEN
  // (OXMDL_ERR_IMP_DISK_FULL on a full disk); an empty file: OXMDL_ERR_IMP_FILE_EMPTY; no
  // memory for it: OXMDL_ERR_IMP_NO_MEMORY; a short read: OXMDL_ERR_IMP_READ; a decoding
  // failure keeps the codec's code (OXMDL_ERR_MEM_SHORTAGE without a codec); a message without
  // a sender address or a date (binary files among them): OXMDL_ERR_IMP_HEADER. Store failures
  // keep the store's code, and a message that was created but could not be completed is
  // removed again. The first failure ends the run; the messages imported before it stay. True
  // only when every file was imported. `reserved` is not read.
  bool Fire(int* reserved = nullptr);
  unsigned long GetErrorInfo();

 private:
  std::vector<std::wstring> sources_;
  OxFolderInterface* destination_ = nullptr;
  Notification* notification_ = nullptr;
  std::atomic<bool> cancel_{false};
};
