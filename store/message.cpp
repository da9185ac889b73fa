#include "store/message.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "frame/diag.h"
#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/folder.h"
#include "store/folderset.h"
#include "store/headercache.h"
#include "store/message_codec.h"
#include "store/messageset.h"
#include "store/storefile.h"
#include "store/timeshift.h"

namespace oxm {

namespace {

// The pre-open check's outcomes as message file codes.
unsigned emlCode(unsigned prim) { return fileCode(prim, StoreFile::MessageFile); }

// The message file's replacement reports its commit outcomes with the child-list codes
// (moved aside 0x02000078, backup delete 0x02000079, commit 0x0200007C), as the device did.
unsigned commitCode(unsigned prim) { return moduleCode(prim, OXMDL_ERR_STG_BACKUP_FLD); }

// The four flag bytes' mask bits.
constexpr unsigned long kFlagMask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_ATTACHMENT | OxMessageInterface::ATTR_PARTIAL | OxMessageInterface::ATTR_KEEP;

uint64_t roundUp8k(uint64_t n) { return (n + 8191) / 8192 * 8192; }

// Message `id`'s record in the header file of its folder `folderId`, which `folder` then holds.
unsigned readRecord(FolderRef& folder, unsigned long folderId, unsigned long id, OrdinaryFolder** owner,
                    FolderMsgHeader* r) {
  unsigned code = folder.acquire(folderId);
  if (code != OXMDL_ERR_NONE) return code;
  *owner = folder.ordinary();
  if (!*owner) return OXMDL_ERR_STG_NO_FOLDER;
  return (*owner)->readHeaderRecord(id, r);
}

}  // namespace

void applyFileAttributes(const MessageAttributes& attr, MessageFileHeader* h) {
  using I = OxMessageInterface;
  for (int i = 0; i < 4; ++i) {
    if (attr.mask & (1u << i)) h->flags[i] = attr.flags[i];
  }
  if (attr.mask & I::ATTR_TIME) h->time = attr.time;
  if (attr.mask & I::ATTR_TEXT) setTextAttribute(h, attr.text);
  if (attr.mask & I::ATTR_NUMERIC) h->numericAttribute = attr.numericAttribute;
  if (attr.mask & I::ATTR_BYTE) h->byteAttribute = attr.byteAttribute;
}

void applyHeaderFields(const MessageAttributes& attr, FolderMsgHeader* r) {
  using I = OxMessageInterface;
  if (attr.mask & I::ATTR_TO_ADDRESS) setAddressField(r->toAddress, attr.toAddress);
  if (attr.mask & I::ATTR_FROM_ADDRESS) setAddressField(r->fromAddress, attr.fromAddress);
  if (attr.mask & I::ATTR_FROM_NAME) setNameField(r->fromName, attr.fromName);
  if (attr.mask & I::ATTR_SUBJECT) setNameField(r->subject, attr.subject);
  if (attr.mask & I::ATTR_DATE) r->date = attr.date;
}

OxMessage::OxMessage(MessageSet* set, unsigned long id, unsigned long folderId, std::wstring path)
    : set_(set), id_(id), folderId_(folderId), path_(std::move(path)), dir_(idDirectory(set->dataDir(), id)) {}

void OxMessage::seekToHead() {
  MutexLock lock(mutex_);
  readPos_ = kMessageHeaderBytes;
}

unsigned OxMessage::readHeader(MessageFileHeader* h, uint64_t* size) {
  File f;
  if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
  if (!f.size(size)) return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  if (*size == 0) return OXMDL_ERR_NONE;
  if (*size < kMessageHeaderBytes) return OXMDL_ERR_STG_FILE_FMTILLGL_EML;
  if (!f.readAll(h, sizeof *h)) return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  return OXMDL_ERR_NONE;
}

unsigned OxMessage::replaceContent(const MessageFileHeader& h, const char* text, size_t size) {
  const Flush flush = batch::messageFile(path_);
  const unsigned code = writeAndCommit(path_, std::string_view(reinterpret_cast<const char*>(&h), sizeof h),
                                       std::string_view(text, size), flush);
  return code == OXMDL_ERR_STG_PRIM_COMMIT ? commitCode(code) : emlCode(code);
}

unsigned OxMessage::write(const std::string& text) {
  MutexLock lock(mutex_);
  const size_t length = std::strlen(text.c_str());  // the text ends at its first NUL
  unsigned code = requireFreeSpace(dir_, roundUp8k(length) + kFreeSpaceReserve + 1);
  if (code != OXMDL_ERR_NONE) return code;
  code = preOpenCheck(path_);
  if (code != OXMDL_ERR_NONE) return emlCode(code);
  MessageFileHeader h;
  uint64_t size = 0;
  code = readHeader(&h, &size);
  if (code == OXMDL_ERR_STG_FILE_FMTILLGL_EML || (code == OXMDL_ERR_NONE && size == 0)) {
    // A file too short to hold a header gets a new one, dated now.
    h = newMessageHeader();
  } else if (code != OXMDL_ERR_NONE) {
    return code;
  }
  code = replaceContent(h, text.data(), length);
  if (code != OXMDL_ERR_NONE) return code;
  // The read position goes to the start of the text, where callers read back from.
  readPos_ = kMessageHeaderBytes;
  return OXMDL_ERR_NONE;
}

unsigned OxMessage::read(std::string* text) {
  MutexLock lock(mutex_);
  unsigned code = preOpenCheck(path_);
  if (code != OXMDL_ERR_NONE) {
    NKDbgPrintfW(L"----OxMessage::Read() Error OXGU_PreOpenFile() ret is [%x]\r\n", code);
    return emlCode(code);
  }
  File f;
  if (!f.openStream(path_, "rb")) {
    code = diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
    debugError(L"OxMessage::Read()", L"wfopen()", code);
    return code;
  }
  uint64_t size = 0;
  if (!f.size(&size) || size < kMessageHeaderBytes || size < readPos_) {
    debugError(L"OxMessage::Read()", L"fseek()", OXMDL_ERR_STG_FILE_FMTILLGL_EML);
    return OXMDL_ERR_STG_FILE_FMTILLGL_EML;
  }
  const uint64_t want = size - readPos_;
  // Read straight into the caller's string: a large message is held once, not twice.
  const size_t before = text->size();
  try {
    text->resize(before + static_cast<size_t>(want));
  } catch (const std::bad_alloc&) {
    debugError(L"OxMessage::Read()", L"malloc()", OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  if (!f.seek(static_cast<int64_t>(readPos_), SEEK_SET) || !f.readAll(text->data() + before, static_cast<size_t>(want))) {
    text->resize(before);
    debugError(L"OxMessage::fseek()", L"fread()", OXMDL_ERR_STG_FILEIO_FILE_READ_EML);
    return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  }
  // The text ends at its first NUL.
  const size_t nul = text->find('\0', before);
  if (nul != std::string::npos) text->resize(nul);
  readPos_ += want;
  return OXMDL_ERR_NONE;
}

unsigned OxMessage::getAttributes(MessageAttributes* attr) {
  MutexLock lock(mutex_);
  bool incomplete = false;
  attr->missingMask = 0;
  if (attr->mask & OxMessageInterface::ATTR_FILE_MASK) {
    unsigned code = preOpenCheck(path_);
    if (code != OXMDL_ERR_NONE) return emlCode(code);
    MessageFileHeader h;
    uint64_t size = 0;
    code = readHeader(&h, &size);
    if (code == OXMDL_ERR_NONE && size == 0) code = OXMDL_ERR_STG_FILE_FMTILLGL_EML;
    if (code != OXMDL_ERR_NONE) return code;
    if (!hasMagic(h) || !knownVersion(h)) return OXMDL_ERR_STG_FILE_VERSION_EML;
    attr->textSize = static_cast<unsigned int>(size - kMessageHeaderBytes);
    for (int i = 0; i < 4; ++i) {
      if (attr->mask & (1u << i)) attr->flags[i] = h.flags[i];
    }
    if (attr->mask & OxMessageInterface::ATTR_TIME) attr->time = h.time;
    if (attr->mask & OxMessageInterface::ATTR_TEXT) attr->text = textAttribute(h);
    // The numeric and byte attributes came with version 0x1002; older files report them
    // missing and give their defaults.
    auto laterAttribute = [&](unsigned bit, auto& field, auto stored, auto fallback) {
      if (!(attr->mask & bit)) return;
      if (h.version >= 0x1002) {
        field = stored;
        return;
      }
      attr->missingMask |= bit;
      field = fallback;
      incomplete = true;
    };
    laterAttribute(OxMessageInterface::ATTR_NUMERIC, attr->numericAttribute, h.numericAttribute, 2u);
    laterAttribute(OxMessageInterface::ATTR_BYTE, attr->byteAttribute, h.byteAttribute, uint8_t{0});
  }
  if (attr->mask & OxMessageInterface::ATTR_HEADER_MASK) {
    FolderRef folder(*set_->folderSet());
    OrdinaryFolder* owner = nullptr;
    FolderMsgHeader r;
    unsigned code = readRecord(folder, folderId_, id_, &owner, &r);
    if (code != OXMDL_ERR_NONE) return code;
    const unsigned m = attr->mask;
    if (m & OxMessageInterface::ATTR_TO_ADDRESS) attr->toAddress = fieldText(r.toAddress, 256);
    if (m & OxMessageInterface::ATTR_FROM_ADDRESS) attr->fromAddress = fieldText(r.fromAddress, 256);
    if (m & OxMessageInterface::ATTR_FROM_NAME) attr->fromName = fieldText(r.fromName, 31);
    if (m & OxMessageInterface::ATTR_SUBJECT) attr->subject = fieldText(r.subject, 31);
    if (m & OxMessageInterface::ATTR_DATE) attr->date = r.date;
  }
  return incomplete ? OXMDL_ERR_STG_NO_ATTRIBUTE : OXMDL_ERR_NONE;
}

unsigned OxMessage::setFileAttributes(const MessageAttributes& attr, bool inPlace, bool* unreadChanged,
                                      bool* partialChanged, MessageFileHeader* result) {
  using I = OxMessageInterface;
  unsigned code = preOpenCheck(path_);
  if (code != OXMDL_ERR_NONE) return emlCode(code);
  MessageFileHeader old;
  uint64_t size = 0;
  code = readHeader(&old, &size);
  if (code != OXMDL_ERR_NONE) return code;
  MessageFileHeader h;
  if (size == 0) {
    // An empty file gets a fresh header only when every file field is being set.
    if ((attr.mask & I::ATTR_FILE_MASK) != I::ATTR_FILE_MASK) return OXMDL_ERR_STG_FILE_FMTILLGL_EML;
    h = newMessageHeader();
    std::memset(&old, 0, sizeof old);
  } else {
    if (!hasMagic(old) || !knownVersion(old)) return OXMDL_ERR_STG_FILE_FMTILLGL_EML;
    // A file older than 0x1002 holds neither the numeric nor the byte attribute (a read gives
    // their defaults), so upgrading it needs the values of both among those set.
    if (old.version < 0x1002 && (attr.mask & (I::ATTR_NUMERIC | I::ATTR_BYTE)) != (I::ATTR_NUMERIC | I::ATTR_BYTE))
      return OXMDL_ERR_STG_NO_ATTRIBUTE;
    h = old;
    h.version = kMessageVersion;
  }
  applyFileAttributes(attr, &h);
  *unreadChanged = h.flags[OxMessageInterface::FLAG_UNREAD] != old.flags[OxMessageInterface::FLAG_UNREAD];
  *partialChanged = h.flags[OxMessageInterface::FLAG_PARTIAL] != old.flags[OxMessageInterface::FLAG_PARTIAL];
  *result = h;
  if (size != 0 && std::memcmp(&h, &old, sizeof h) == 0) return OXMDL_ERR_NONE;
  if (inPlace) {
    // Only flag bytes change: written where they are, which needs no room on the disk. Four bytes
    // inside the file's first sector are written whole or not at all.
    if (size == 0 || old.version != kMessageVersion) return OXMDL_ERR_STG_DISK_FULL;
    File f;
    if (!f.openStream(path_, "r+b")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
    if (!f.seek(offsetof(MessageFileHeader, flags), SEEK_SET) || !f.write(h.flags, sizeof h.flags) ||
        (batch::messageFile(path_) == Flush::Now && !f.flush())) {
      return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML);
    }
    return OXMDL_ERR_NONE;
  }

  std::string rest;
  if (size > kMessageHeaderBytes) {
    File f;
    try {
      rest.resize(static_cast<size_t>(size - kMessageHeaderBytes));
    } catch (const std::bad_alloc&) {
      return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
    }
    if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
    if (!f.seek(static_cast<int64_t>(kMessageHeaderBytes), SEEK_SET) || !f.readAll(rest.data(), rest.size())) {
      return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
    }
  }
  return replaceContent(h, rest.data(), rest.size());
}

unsigned OxMessage::setHeaderRecord(const MessageAttributes& attr) {
  FolderRef folder(*set_->folderSet());
  OrdinaryFolder* owner = nullptr;
  FolderMsgHeader r;
  unsigned code = readRecord(folder, folderId_, id_, &owner, &r);
  if (code != OXMDL_ERR_NONE) return code;
  applyHeaderFields(attr, &r);
  return owner->writeHeaderRecord(r);
}

unsigned OxMessage::setAttributes(const MessageAttributes& attr) {
  using I = OxMessageInterface;
  bool unreadChanged = false;
  bool partialChanged = false;
  {
    MutexLock lock(mutex_);
    uint64_t size = 0;
    if (!GetFileSize(path_, &size)) {
      // A crash may have left the file as its backup or temporary copy: repair, then ask again.
      unsigned repaired = preOpenCheck(path_);
      if (repaired != OXMDL_ERR_NONE) return emlCode(repaired);
      if (!GetFileSize(path_, &size)) return OXMDL_ERR_STG_DISK_FULL;
    }
    unsigned code = requireFreeSpace(dir_, size + kFreeSpaceReserve);
    // Marking must work on a full disk too: a change of flags alone is then made in place.
    const bool flagsOnly = (attr.mask & ~kFlagMask) == 0;
    if (code != OXMDL_ERR_NONE && !flagsOnly) return code;
    const bool inPlace = code != OXMDL_ERR_NONE;
    if (attr.mask & I::ATTR_FILE_MASK) {
      MessageFileHeader h;
      code = setFileAttributes(attr, inPlace, &unreadChanged, &partialChanged, &h);
      if (code != OXMDL_ERR_NONE) return code;
      if (unreadChanged || partialChanged) {
        FolderRef folder(*set_->folderSet());
        code = folder.acquire(folderId_);
        if (code == OXMDL_ERR_NONE && !folder.ordinary()) code = OXMDL_ERR_STG_NO_FOLDER;
        if (code == OXMDL_ERR_NONE) code = folder.ordinary()->setMessageFlags(id_, h.flags[OxMessageInterface::FLAG_UNREAD] != 0, h.flags[OxMessageInterface::FLAG_PARTIAL] != 0);
        if (code != OXMDL_ERR_NONE) return code;
      }
    }
    if (attr.mask & I::ATTR_HEADER_MASK) {
      code = setHeaderRecord(attr);
      if (code != OXMDL_ERR_NONE) return code;
    }
  }
  if (unreadChanged || partialChanged) {
    FolderSet& folders = *set_->folderSet();
    FolderRef folder(folders);
    if (folder.acquire(folderId_) == OXMDL_ERR_NONE) folder.get()->notifyMessageChange(id_);
    if (unreadChanged) folders.notifyVirtual(kUnreadFolder, id_);
    if (partialChanged) folders.notifyVirtual(kPartialFolder, id_);
  }
  return OXMDL_ERR_NONE;
}

unsigned OxMessage::writeEmail(Email* mail) {
  using I = OxMessageInterface;
  if (!mail) return OXMDL_ERR_STG_INVALID_ARG;
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  EncodedMessage encoded;
  code = codec->encode(mail, &encoded);
  if (code != OXMDL_ERR_NONE) return code;
  MutexLock lock(mutex_);
  code = requireFreeSpace(dir_, roundUp8k(std::strlen(encoded.text.c_str())) + kFreeSpaceReserve + 1);
  if (code != OXMDL_ERR_NONE) return code;
  const SYSTEMTIME utc = localToUtc(encoded.fields.localDate);
  MessageAttributes file;
  file.mask = I::ATTR_FILE_MASK;
  file.flags[OxMessageInterface::FLAG_ATTACHMENT] = encoded.fields.hasEnclosures ? 1 : 0;
  file.numericAttribute = 3;
  file.time = utc;
  file.text = encoded.textAttribute;
  code = setAttributes(file);
  if (code == OXMDL_ERR_NONE) code = write(encoded.text);
  if (code != OXMDL_ERR_NONE) return code;
  MessageAttributes header;
  header.mask = I::ATTR_HEADER_MASK;
  header.toAddress = encoded.fields.toAddress;
  header.fromAddress = encoded.fields.fromAddress;
  header.fromName = encoded.fields.fromName;
  header.subject = encoded.fields.subject;
  header.date = utc;
  return setAttributes(header);
}

unsigned OxMessage::removeAttachments() {
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  MutexLock lock(mutex_);
  MessageAttributes attr;
  attr.mask = OxMessageInterface::ATTR_ATTACHMENT;
  code = getAttributes(&attr);
  if (code != OXMDL_ERR_NONE) return code;
  if (attr.flags[OxMessageInterface::FLAG_ATTACHMENT] == 0) return OXMDL_ERR_STG_NO_ATTACHMENT;
  std::string text;
  seekToHead();
  code = read(&text);
  if (code != OXMDL_ERR_NONE) return code;
  std::string stripped;
  code = codec->removeAttachments(text, &stripped);
  if (code != OXMDL_ERR_NONE) return code;
  code = write(stripped);
  if (code != OXMDL_ERR_NONE) return code;
  attr.flags[OxMessageInterface::FLAG_ATTACHMENT] = 0;
  return setAttributes(attr);
}

}  // namespace oxm
