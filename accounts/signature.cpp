#include "accounts/signature.h"

#include <memory>
#include <new>

#include "accounts/commit.h"
#include "accounts/paths.h"
#include "accounts/signature_files.h"
#include "accounts/tree.h"
#include "accounts/utf16_bytes.h"
#include "frame/oxerror.h"
#include "frame/refset.h"
#include "frame/safefile.h"
#include "platform/fs.h"

namespace oxm {

namespace {

using Attributes = OxSignatureInterface::Attributes;

// Each signature file with its mask bit, its field and its own code for every failure.
struct SignatureFile {
  const wchar_t* name;
  uint32_t bit;
  std::wstring Attributes::*field;
  unsigned open, read, write, delTmp, delBak, commit, restore, backup, noFile, tooLong, create;
};

constexpr SignatureFile kSignatureFiles[] = {
    {L"Data1.txt", OxSignatureInterface::SIGNATURE_1, &Attributes::strSignature1, OXMDL_ERR_SIG_OPEN1, OXMDL_ERR_SIG_READ1,
     OXMDL_ERR_SIG_WRITE1, OXMDL_ERR_SIG_DELTMP1, OXMDL_ERR_SIG_DELBAK1, OXMDL_ERR_SIG_COMMIT1,
     OXMDL_ERR_SIG_RESTORE1, OXMDL_ERR_SIG_BACKUP1, OXMDL_ERR_SIG_NOFILE1,
     OXMDL_ERR_SIG_TOO_LONG1, OXMDL_ERR_SIG_CREATE1},
    {L"Data2.txt", OxSignatureInterface::SIGNATURE_2, &Attributes::strSignature2, OXMDL_ERR_SIG_OPEN2, OXMDL_ERR_SIG_READ2,
     OXMDL_ERR_SIG_WRITE2, OXMDL_ERR_SIG_DELTMP2, OXMDL_ERR_SIG_DELBAK2, OXMDL_ERR_SIG_COMMIT2,
     OXMDL_ERR_SIG_RESTORE2, OXMDL_ERR_SIG_BACKUP2, OXMDL_ERR_SIG_NOFILE2,
     OXMDL_ERR_SIG_TOO_LONG2, OXMDL_ERR_SIG_CREATE2},
};

const TreeCodes kSignatureTree{OXMDL_ERR_SIG_TREE_FIND, OXMDL_ERR_SIG_TREE_DELFILE,
                               OXMDL_ERR_SIG_TREE_RMDIR};

// The file's code for a result of the crash-safe replacement primitives.
unsigned codeFor(const SignatureFile& file, unsigned primCode) {
  switch (primCode) {
    case OXMDL_ERR_STG_PRIM_BACKUP: return file.backup;
    case OXMDL_ERR_STG_PRIM_DELBAK: return file.delBak;
    case OXMDL_ERR_STG_PRIM_RESTORE: return file.restore;
    case OXMDL_ERR_STG_PRIM_DELTMP: return file.delTmp;
    case OXMDL_ERR_STG_PRIM_COMMIT: return file.commit;
    case OXMDL_ERR_STG_PRIM_NOFILE: return file.noFile;
    case OXMDL_ERR_STG_PRIM_OPEN: return file.open;
    case OXMDL_ERR_STG_PRIM_WRITE: return file.write;
    case OXMDL_ERR_STG_DISK_FULL: return OXMDL_ERR_SIG_DISK_FULL;
    default: return primCode;
  }
}

unsigned readOne(const SignatureFile& file, const std::wstring& path, std::wstring* text) {
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE) return codeFor(file, code);
  File f;
  if (!f.openStream(path, "rb")) return file.open;
  uint64_t size = 0;
  if (!f.size(&size)) return file.read;
  if (size > kMaxSignatureBytes) return file.tooLong;
  // Zero-filled beyond the file, so the text ends at the file's end at the latest.
  std::string buf;
  try {
    buf.assign(size + 4, '\0');
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_SIG_NO_MEMORY;
  }
  if (size != 0 && !f.readAll(buf.data(), size)) return file.read;
  std::wstring all = textOfUtf16(buf.data(), buf.size());
  *text = all.substr(0, all.find(L'\0'));
  return OXMDL_ERR_NONE;
}

unsigned writeOne(const SignatureFile& file, const std::wstring& path, const std::wstring& text) {
  const std::string bytes = utf16Bytes(text);
  if (bytes.size() > kMaxSignatureBytes) return file.tooLong;
  unsigned code = preOpenCheck(path);
  if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_NOFILE) return codeFor(file, code);
  code = writeTemporary(path, bytes.data(), bytes.size());
  if (code != OXMDL_ERR_NONE) return codeFor(file, code);
  return codeFor(file, commitOrDiscard(path));
}

RefCountedSet<std::wstring, OxSignature>& signatureSet() {
  static RefCountedSet<std::wstring, OxSignature> set;
  return set;
}

}  // namespace

unsigned OxSignature::read(Attributes* attrs) {
  const uint32_t mask = attrs->mask;
  attrs->mask = 0;
  for (const SignatureFile& file : kSignatureFiles) {
    if (!(mask & file.bit)) continue;
    std::wstring text;
    unsigned code = readOne(file, joinPath(dir_, file.name), &text);
    if (code != OXMDL_ERR_NONE) return code;
    attrs->*file.field = std::move(text);
  }
  return OXMDL_ERR_NONE;
}

unsigned OxSignature::write(const Attributes& attrs) {
  if (!(attrs.mask & OxSignatureInterface::SIGNATURE_BOTH)) return OXMDL_ERR_NONE;
  uint64_t freeBytes = 0;
  if (!GetDiskFreeSpaceExW(dir_, &freeBytes) || freeBytes < kSignatureFreeBytes) {
    return OXMDL_ERR_SIG_DISK_FULL;
  }
  for (const SignatureFile& file : kSignatureFiles) {
    if (!(attrs.mask & file.bit)) continue;
    unsigned code = writeOne(file, joinPath(dir_, file.name), attrs.*file.field);
    if (code != OXMDL_ERR_NONE) return code;
  }
  return OXMDL_ERR_NONE;
}

unsigned acquireSignature(const std::wstring& dir, OxSignature** out) {
  return signatureSet().acquire(
      dir,
      [&dir](std::unique_ptr<OxSignature>* made) {
        made->reset(new (std::nothrow) OxSignature(dir));
        return *made ? OXMDL_ERR_NONE : OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
      },
      out);
}

void releaseSignature(const OxSignature* signature) { signatureSet().release(signature); }

bool signatureInUse(const std::wstring& dir) { return signatureSet().references(dir) > 0; }

unsigned createSignatureFiles(const std::wstring& dir) {
  for (const SignatureFile& file : kSignatureFiles) {
    const std::wstring path = joinPath(dir, file.name);
    File f;
    if (!f.openStream(path, "wb")) {
      if (file.bit != OxSignatureInterface::SIGNATURE_1) DeleteFileW(path);
      return file.create;
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned removeSignatureTree(const std::wstring& dir) { return removeTree(dir, kSignatureTree); }

}  // namespace oxm

OxSignatureInterface::OxSignatureInterface(oxm::OxSignature* signature) : signature_(signature) {}

OxSignatureInterface::~OxSignatureInterface() {
  if (signature_) oxm::releaseSignature(signature_);
}

bool OxSignatureInterface::ReadAttributes(Attributes* attrs) {
  if (!signature_) return false;
  unsigned code = attrs ? signature_->read(attrs) : OXMDL_ERR_STG_INVALID_ARG;
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

bool OxSignatureInterface::WriteAttributes(const Attributes& attrs) {
  if (!signature_) return false;
  unsigned code = signature_->write(attrs);
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

unsigned long OxSignatureInterface::GetErrorInfo() const { return GetOxMiddleError(); }
