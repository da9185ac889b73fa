#include "store/message_importer.h"

#include <memory>
#include <new>

#include "platform/fs.h"
#include "platform/syserr.h"
#include "store/batch.h"
#include "store/message_codec.h"
#include "store/message_maker.h"
#include "store/message_interface.h"

namespace {

using oxm::MessageFields;

bool fail(unsigned code) {
  SetOxMiddleError(code);
  return false;
}

// The file's bytes up to its first NUL.
unsigned readImportFile(const std::wstring& path, std::string* text) {
  oxm::File file;
  if (!file.openStream(path, "rb"))
    return oxm::GetLastError() == oxm::ERROR_DISK_FULL ? OXMDL_ERR_IMP_DISK_FULL : OXMDL_ERR_IMP_OPEN;
  uint64_t size = 0;
  if (!file.size(&size)) return OXMDL_ERR_IMP_READ;
  if (size == 0) return OXMDL_ERR_IMP_FILE_EMPTY;
  std::unique_ptr<char[]> buffer(size < SIZE_MAX ? new (std::nothrow) char[size + 1] : nullptr);
  if (!buffer) return OXMDL_ERR_IMP_NO_MEMORY;
  if (!file.readAll(buffer.get(), static_cast<size_t>(size))) return OXMDL_ERR_IMP_READ;
  buffer[size] = '\0';
  text->assign(buffer.get());
  return OXMDL_ERR_NONE;
}

// Attributes of a message made for an imported file: unread, not partial, numeric attribute 4,
// the date in UTC in the file and in the header record.
OxMessageInterface::Attributes importAttributes(const MessageFields& fields) {
  using I = OxMessageInterface;
  const SYSTEMTIME utc = I::LocalTimeToSystemTime(fields.localDate);
  I::Attributes attr;
  attr.mask = I::ATTR_FILE_MASK | I::ATTR_HEADER_MASK;
  attr.flags[OxMessageInterface::FLAG_UNREAD] = 1;
  attr.flags[OxMessageInterface::FLAG_ATTACHMENT] = fields.hasEnclosures ? 1 : 0;
  attr.numericAttribute = 4;
  attr.byteAttribute = 0;
  attr.time = utc;
  attr.toAddress = fields.toAddress;
  attr.fromAddress = fields.fromAddress;
  attr.fromName = fields.fromName;
  attr.subject = fields.subject;
  attr.date = utc;
  return attr;
}

// One file into a new message of `folder`; nothing stays behind when it fails.
unsigned importOne(const std::wstring& path, OxFolderInterface* folder) {
  std::string text;
  unsigned code = readImportFile(path, &text);
  if (code != OXMDL_ERR_NONE) return code;
  oxm::MessageCodec* codec = nullptr;
  code = oxm::requireMessageCodec(&codec);
  MessageFields fields;
  if (code == OXMDL_ERR_NONE) code = codec->decodeFields(text, &fields);
  if (code != OXMDL_ERR_NONE) return code;
  if (fields.fromAddress.empty() || fields.localDate.wYear == 0) return OXMDL_ERR_IMP_HEADER;
  unsigned long id = 0;
  return oxm::MessageMaker::create(*folder, importAttributes(fields), text, &id) ? OXMDL_ERR_NONE : GetOxMiddleError();
}

}  // namespace

bool OxMessageImporter::SetSource(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return fail(OXMDL_ERR_IMP_SOURCE_EMPTY);
  sources_.clear();
  for (const std::wstring& path : paths) {
    if (path.empty()) return fail(OXMDL_ERR_IMP_SOURCE_PATH);
    sources_.push_back(path);
  }
  return true;
}

bool OxMessageImporter::SetDestination(OxFolderInterface* folder) {
  if (!folder) return fail(OXMDL_ERR_IMP_DEST_NULL);
  destination_ = folder;
  return true;
}

bool OxMessageImporter::RegisterNotification(Notification* notification) {
  if (!notification) return fail(OXMDL_ERR_IMP_NOTIFY_NULL);
  notification_ = notification;
  return true;
}

bool OxMessageImporter::Cancel() {
  cancel_ = true;
  return true;
}

bool OxMessageImporter::Fire(int*) {
  if (sources_.empty()) return fail(OXMDL_ERR_IMP_NO_SOURCE);
  if (!destination_) return fail(OXMDL_ERR_IMP_NO_DEST);
  if (notification_) notification_->begin(static_cast<unsigned long>(sources_.size()));
  // The messages become durable together when the run ends, before it reports success.
  oxm::StoreBatch batch(destination_);
  unsigned long imported = 0;
  unsigned code = OXMDL_ERR_NONE;
  for (const std::wstring& path : sources_) {
    if (cancel_) {
      code = OXMDL_ERR_IMP_CANCEL;
      break;
    }
    code = importOne(path, destination_);
    if (code != OXMDL_ERR_NONE) break;
    ++imported;
    if (notification_) notification_->progress(imported);
  }
  const unsigned flushed = batch.finish();
  if (code == OXMDL_ERR_NONE) code = flushed;
  if (notification_) notification_->end(cancel_);
  return code == OXMDL_ERR_NONE ? true : fail(code);
}

unsigned long OxMessageImporter::GetErrorInfo() { return GetOxMiddleError(); }
