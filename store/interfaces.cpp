// The exported store interfaces: each holds one internal object, checks its arguments, forwards,
// and turns the internal code into false / null / 0 plus the last-error code.
#include <new>

#include "frame/oxerror.h"
#include "store/folder.h"
#include "store/folderset.h"
#include "store/message.h"
#include "store/message_maker.h"
#include "store/messageset.h"
#include "store/recovery.h"
#include "store/repair.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/timeshift.h"

namespace {

bool report(unsigned code) {
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

// The folder owning message `id`, which must exist and not be open (it is about to be removed
// or moved).
unsigned ownerOfClosedMessage(oxm::MessageSet& messages, unsigned long id, uint32_t* owner) {
  if (id > oxm::kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
  if (messages.isOpen(id)) return OXMDL_ERR_STG_MESSAGE_OPEN;
  *owner = messages.entries().owner(id);
  return *owner == oxm::kEntryFree ? OXMDL_ERR_STG_ENTRY_FREE : OXMDL_ERR_NONE;
}

// Wraps an acquired folder or message; a failed `new` hands it back to its set at once.
template <class Interface, class Object, class Set>
Interface* wrap(unsigned code, Object* object, Set* set) {
  if (!report(code)) return nullptr;
  Interface* wrapped = new (std::nothrow) Interface(object);
  if (!wrapped) {
    set->release(object);
    SetOxMiddleError(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  }
  return wrapped;
}

OxFolderInterface* wrapFolder(unsigned code, oxm::OxFolder* folder) {
  return wrap<OxFolderInterface>(code, folder, folder ? folder->folderSet() : nullptr);
}

OxMessageInterface* wrapMessage(unsigned code, oxm::OxMessage* message) {
  return wrap<OxMessageInterface>(code, message, message ? message->messageSet() : nullptr);
}

}  // namespace

// ---- OxStorageInterface ----

OxStorageInterface::OxStorageInterface(oxm::OxStorage* storage) : storage_(storage) {}

OxStorageInterface::~OxStorageInterface() {
  if (storage_) report(oxm::StorageSet::instance().release(storage_));
}

bool OxStorageInterface::CreateStorage(const std::wstring&) { return false; }

bool OxStorageInterface::DestroyStorage(const std::wstring&) { return false; }

OxFolderInterface* OxStorageInterface::OpenRootFolder() { return OpenFolder(oxm::kRootFolder); }

OxFolderInterface* OxStorageInterface::OpenFolder(unsigned long id) {
  if (!storage_) return nullptr;
  if (id > oxm::kMaxId) {
    SetOxMiddleError(OXMDL_ERR_STG_NO_FOLDER);
    return nullptr;
  }
  oxm::OxFolder* folder = nullptr;
  unsigned code = storage_->folders().acquire(id, &folder);
  return wrapFolder(code, folder);
}

OxMessageInterface* OxStorageInterface::OpenMessage(unsigned long id) {
  if (!storage_) return nullptr;
  oxm::OxMessage* message = nullptr;
  unsigned code = storage_->messages().acquire(id, &message);
  return wrapMessage(code, message);
}

bool OxStorageInterface::RemoveMessage(unsigned long id) {
  if (!storage_) return false;
  uint32_t owner = 0;
  unsigned code = ownerOfClosedMessage(storage_->messages(), id, &owner);
  if (code != OXMDL_ERR_NONE) return report(code);
  oxm::FolderRef folder(storage_->folders());
  code = folder.acquire(owner);
  if (code != OXMDL_ERR_NONE) return report(code);
  std::vector<unsigned long> one{id};
  return report(folder.get()->removeMessages(one));
}

bool OxStorageInterface::MoveMessage(unsigned long id, unsigned long folderId) {
  if (!storage_) return false;
  uint32_t owner = 0;
  unsigned code = ownerOfClosedMessage(storage_->messages(), id, &owner);
  if (code != OXMDL_ERR_NONE) return report(code);
  if (folderId > oxm::kMaxId) return report(OXMDL_ERR_STG_NO_FOLDER);
  oxm::FolderRef from(storage_->folders());
  code = from.acquire(owner);
  if (code != OXMDL_ERR_NONE) return report(code);
  oxm::FolderRef to(storage_->folders());
  code = to.acquire(folderId);
  if (code != OXMDL_ERR_NONE) return report(code);
  std::vector<unsigned long> one{id};
  return report(from.get()->moveMessages(one, to.get()));
}

unsigned long OxStorageInterface::GetUserFolderCnt() {
  if (!storage_) return 0;
  const unsigned long folders = storage_->folders().ids().count();
  return folders < 6 ? 0 : folders - 5;
}

bool OxStorageInterface::RestoreFolderMessageHeader(unsigned long folderId) {
  if (!storage_) return false;
  return report(oxm::restoreFolderMessageHeader(*storage_, folderId));
}

bool OxStorageInterface::RecoverMessageEntry(unsigned long folderId) {
  if (!storage_) return false;
  return report(oxm::recoverMessageEntry(*storage_, folderId));
}

bool OxStorageInterface::RecoverMessageEntryAll() {
  if (!storage_) return false;
  RecoveryReport ignored;
  return report(oxm::repairStorage(*storage_, oxm::defaultFallbackFolder(*storage_), &ignored));
}

bool OxStorageInterface::RecoverStorage(RecoveryReport* what) {
  if (!storage_) return false;
  if (!what) return report(OXMDL_ERR_STG_INVALID_ARG);
  const RecoveryReport healed = storage_->takeHealed();
  what->repaired += healed.repaired;
  what->quarantined += healed.quarantined;
  what->refiled += healed.refiled;
  what->removed += healed.removed;
  what->rebuilt += healed.rebuilt;
  what->folders += healed.folders;
  return report(oxm::repairStorage(*storage_, oxm::defaultFallbackFolder(*storage_), what));
}

bool OxStorageInterface::CheckWantRecoverEntry(unsigned long errorCode) {
  if (!storage_) return false;
  return oxm::wantsRecovery(errorCode);
}

unsigned long OxStorageInterface::GetErrorInfo() { return GetOxMiddleError(); }

// ---- OxFolderInterface ----

OxFolderInterface::OxFolderInterface(oxm::OxFolder* folder) : folder_(folder) {}

OxFolderInterface::~OxFolderInterface() {
  if (!folder_) return;
  if (notify_) folder_->unregisterNotify(notify_);
  folder_->folderSet()->release(folder_);
}

OxFolderInterface* OxFolderInterface::OpenFolder(unsigned long id) {
  if (!folder_) return nullptr;
  oxm::OxFolder* child = nullptr;
  unsigned code = folder_->openChild(id, &child);
  return wrapFolder(code, child);
}

bool OxFolderInterface::CreateFolder(const std::wstring& name, unsigned long* id) {
  if (!folder_) return false;
  if (!id) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->createFolder(name, id));
}

bool OxFolderInterface::RemoveFolder(unsigned long id) {
  if (!folder_) return false;
  return report(folder_->removeFolder(id));
}

bool OxFolderInterface::MoveFolder(unsigned long id, OxFolderInterface* to) {
  if (!folder_) return false;
  if (!to || !to->folder_) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->moveFolder(id, to->folder_));
}

unsigned long OxFolderInterface::GetUnreadCount() {
  if (!folder_) return 0;
  unsigned long count = 0;
  unsigned code = folder_->unreadCount(&count);
  if (code != OXMDL_ERR_NONE) report(code);
  return count;
}

bool OxFolderInterface::ReadFolderAttributes(unsigned long id, FolderAttributes* attr) const {
  if (!folder_) return false;
  if (!attr) return report(OXMDL_ERR_STG_INVALID_ARG);
  std::wstring name;
  unsigned code = folder_->readFolderAttributes(id, &name);
  if (code == OXMDL_ERR_NONE) attr->name = name;
  return report(code);
}

bool OxFolderInterface::WriteFolderAttributes(unsigned long id, const FolderAttributes& attr) {
  if (!folder_) return false;
  return report(folder_->writeFolderAttributes(id, attr.name));
}

bool OxFolderInterface::GetFolderIds(std::vector<unsigned long>* ids) const {
  if (!folder_) return false;
  if (!ids) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->getChildIds(ids));
}

bool OxFolderInterface::GetMessageIds(std::vector<unsigned long>* ids) {
  if (!folder_) return false;
  if (!ids) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->getMessageIds(ids));
}

OxMessageInterface* OxFolderInterface::OpenMessage(unsigned long id) {
  if (!folder_) return nullptr;
  oxm::OxMessage* message = nullptr;
  unsigned code = folder_->openMessage(id, &message);
  return wrapMessage(code, message);
}

bool OxFolderInterface::CreateMessage(unsigned long* id) {
  if (!folder_) return false;
  if (!id) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->createMessage(id, std::nullopt));
}

bool OxFolderInterface::CreateMessage(unsigned long* id, unsigned long size) {
  if (!folder_) return false;
  if (!id) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->createMessage(id, size));
}

bool oxm::MessageMaker::create(OxFolderInterface& folder, const OxMessageInterface::Attributes& initial,
                              const std::string& text, unsigned long* id) {
  if (!folder.folder_) return false;
  return report(folder.folder_->createMessage(id, static_cast<unsigned long>(text.size()), &initial, text));
}

bool OxFolderInterface::RemoveMessage(std::vector<unsigned long>& ids) {
  if (!folder_) return false;
  return report(folder_->removeMessages(ids));
}

bool OxFolderInterface::RemoveMessage(unsigned long id) {
  std::vector<unsigned long> one{id};
  return RemoveMessage(one);
}

bool OxFolderInterface::MoveMessage(std::vector<unsigned long>& ids, OxFolderInterface* to) {
  if (!folder_) return false;
  if (!to || !to->folder_) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->moveMessages(ids, to->folder_));
}

bool OxFolderInterface::MoveMessage(unsigned long id, OxFolderInterface* to) {
  std::vector<unsigned long> one{id};
  return MoveMessage(one, to);
}

bool OxFolderInterface::RemoveAttachments(std::vector<unsigned long>& ids, std::vector<unsigned long>* failed) {
  if (!folder_) return false;
  if (!failed) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->removeAttachments(ids, failed));
}

unsigned long OxFolderInterface::GetRemainMessageCount() {
  if (!folder_) return 0;
  unsigned long count = 0;
  unsigned code = folder_->remainMessageCount(&count);
  if (code != OXMDL_ERR_NONE) report(code);
  return count;
}

bool OxFolderInterface::LoadMessageHeader(FolderMsgHeader* buf, unsigned long count) {
  if (!folder_) return false;
  if (!buf) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(folder_->loadMessageHeader(buf, count));
}

bool OxFolderInterface::FlushMessageHeader() { return folder_ != nullptr; }

bool OxFolderInterface::RegisterNotify(Notify* notify) {
  if (!folder_) return false;
  if (!notify) return report(OXMDL_ERR_STG_INVALID_ARG);
  if (notify_) return report(OXMDL_ERR_STG_NOTIFY_BUSY);
  unsigned code = folder_->registerNotify(notify);
  if (code == OXMDL_ERR_NONE) notify_ = notify;
  return report(code);
}

bool OxFolderInterface::UnregisterNotify(Notify* notify) {
  if (!folder_) return false;
  if (!notify) return report(OXMDL_ERR_STG_INVALID_ARG);
  if (notify != notify_) return report(OXMDL_ERR_STG_NOTIFY_UNKNOWN);
  notify_ = nullptr;
  return report(folder_->unregisterNotify(notify));
}

unsigned long OxFolderInterface::GetErrorInfo() { return folder_ ? GetOxMiddleError() : OXMDL_ERR_NONE; }

// ---- OxMessageInterface ----

OxMessageInterface::OxMessageInterface(oxm::OxMessage* message) : message_(message) {}

OxMessageInterface::~OxMessageInterface() {
  if (message_) message_->messageSet()->release(message_);
}

bool OxMessageInterface::Write(const std::string& text) {
  if (!message_) return false;
  return report(message_->write(text));
}

bool OxMessageInterface::Write(Email* mail) {
  if (!message_) return false;
  return report(message_->writeEmail(mail));
}

bool OxMessageInterface::Read(std::string* text) {
  if (!message_) return false;
  if (!text) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(message_->read(text));
}

bool OxMessageInterface::SeekToHead() {
  if (!message_) return false;
  message_->seekToHead();
  return true;
}

bool OxMessageInterface::SetAttributes(const Attributes& attr) {
  if (!message_) return false;
  return report(message_->setAttributes(attr));
}

bool OxMessageInterface::GetAttributes(Attributes* attr) const {
  if (!message_) return false;
  if (!attr) return report(OXMDL_ERR_STG_INVALID_ARG);
  return report(message_->getAttributes(attr));
}

SYSTEMTIME OxMessageInterface::LocalTimeToSystemTime(const SYSTEMTIME& local) { return oxm::localToUtc(local); }

SYSTEMTIME OxMessageInterface::SystemTimeToLocalTime(const SYSTEMTIME& utc) { return oxm::utcToLocal(utc); }

unsigned long OxMessageInterface::GetErrorInfo() { return message_ ? GetOxMiddleError() : OXMDL_ERR_NONE; }
