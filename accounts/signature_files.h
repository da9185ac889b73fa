// The signature files of one Signature directory, the process-wide set of their objects, and
// the pieces account creation and deletion use.
#pragma once

#include <string>

#include "accounts/signature.h"

namespace oxm {

inline constexpr size_t kMaxSignatureBytes = 8192;
// Writing needs this much free space on the volume of the signature directory.
inline constexpr uint64_t kSignatureFreeBytes = 512000;

// One Signature directory. Invariant: directory() never changes.
class OxSignature {
 public:
  using Attributes = OxSignatureInterface::Attributes;

  explicit OxSignature(std::wstring dir) : dir_(std::move(dir)) {}
  const std::wstring& directory() const { return dir_; }

  unsigned read(Attributes* attrs);
  unsigned write(const Attributes& attrs);

 private:
  std::wstring dir_;
};

// Signature objects by directory, counted like the accounts (unlocked: the caller's thread).
unsigned acquireSignature(const std::wstring& dir, OxSignature** out);
void releaseSignature(const OxSignature* signature);
bool signatureInUse(const std::wstring& dir);

// A new account's empty Data1.txt and Data2.txt: OXMDL_ERR_SIG_CREATE1 / OXMDL_ERR_SIG_CREATE2
// (the first is kept, a half-made second is deleted).
unsigned createSignatureFiles(const std::wstring& dir);
// Removes the directory tree: OXMDL_ERR_SIG_TREE_FIND / _DELFILE / _RMDIR.
unsigned removeSignatureTree(const std::wstring& dir);

}  // namespace oxm
