#include "store/message_exporter.h"

#include <cstdio>

#include "platform/fs.h"
#include "platform/syserr.h"

namespace {

bool fail(unsigned code) {
  SetOxMiddleError(code);
  return false;
}

// "%sEML%05d.eml" with the directory and the counter.
std::wstring exportName(const std::wstring& dir, unsigned long counter) {
  wchar_t name[32];
  std::swprintf(name, sizeof name / sizeof name[0], L"EML%05lu.eml", counter);
  return dir + name;
}

unsigned diskFullOr(unsigned code) {
  return oxm::GetLastError() == oxm::ERROR_DISK_FULL ? OXMDL_ERR_EXP_DISK_FULL : code;
}

// Writes `text` into a new file at `path`; a file that was made but not written whole goes.
unsigned writeExportFile(const std::wstring& path, const std::string& text) {
  oxm::File file;
  if (!file.open(path, oxm::GENERIC_WRITE, 0, oxm::CREATE_NEW)) return diskFullOr(OXMDL_ERR_EXP_CREATE);
  if (!text.empty() && !file.write(text.data(), text.size())) {
    const unsigned code = diskFullOr(OXMDL_ERR_EXP_WRITE);
    file.close();
    oxm::DeleteFileW(path);
    return code;
  }
  file.close();
  return OXMDL_ERR_NONE;
}

}  // namespace

bool OxMessageExporter::SetSource(const std::vector<OxMessageInterface*>& sources) {
  if (sources.empty()) return fail(OXMDL_ERR_EXP_SOURCE_EMPTY);
  sources_.clear();
  for (OxMessageInterface* source : sources) {
    if (!source) return fail(OXMDL_ERR_EXP_SOURCE_NULL);
    sources_.push_back(source);
  }
  return true;
}

bool OxMessageExporter::SetDestination(const std::wstring& dir) {
  if (dir.empty()) return fail(OXMDL_ERR_EXP_DEST_EMPTY);
  destination_ = dir.back() == L'\\' ? dir : dir + L'\\';
  return true;
}

bool OxMessageExporter::RegisterNotification(Notification* notification) {
  if (!notification) return fail(OXMDL_ERR_EXP_NOTIFY_NULL);
  notification_ = notification;
  return true;
}

bool OxMessageExporter::Cancel() {
  cancel_ = true;
  return true;
}

bool OxMessageExporter::Fire() {
  if (sources_.empty()) return fail(OXMDL_ERR_EXP_NO_SOURCE);
  if (destination_.empty()) return fail(OXMDL_ERR_EXP_NO_DEST);
  if (notification_) notification_->begin(static_cast<unsigned long>(sources_.size()));
  unsigned long counter = 0;
  unsigned long written = 0;
  unsigned code = OXMDL_ERR_NONE;
  bool keepCode = false;  // a message's own code from Read is already set
  for (OxMessageInterface* source : sources_) {
    if (cancel_) {
      code = OXMDL_ERR_EXP_CANCEL;
      break;
    }
    std::string text;
    if (!source->Read(&text)) {
      keepCode = true;
      break;
    }
    std::wstring path;
    do {
      path = exportName(destination_, counter++);
    } while (oxm::GetFileAttributesW(path) != oxm::INVALID_FILE_ATTRIBUTES);
    code = writeExportFile(path, text);
    if (code != OXMDL_ERR_NONE) break;
    ++written;
    if (notification_) notification_->progress(written);
  }
  if (notification_) notification_->end(cancel_);
  if (keepCode) return false;
  return code == OXMDL_ERR_NONE ? true : fail(code);
}

unsigned long OxMessageExporter::GetErrorInfo() { return GetOxMiddleError(); }
