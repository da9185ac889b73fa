// Signatures: each account has two signature texts, Data1.txt and Data2.txt in its Signature
// directory (UTF-16LE, no BOM, no terminator, at most 8192 bytes). OxSignatureInterface reads
// and writes them; it is opened with OxAccountInfoInterface::OpenSignature and deleted by the
// caller.
#pragma once

#include <cstdint>
#include <string>

namespace oxm {
class OxSignature;
}  // namespace oxm

class OxSignatureInterface {
 public:
  // Bits of Attributes::mask.
  enum : uint32_t {
    SIGNATURE_1 = 0x1,  // strSignature1 (Data1.txt)
    SIGNATURE_2 = 0x2,  // strSignature2 (Data2.txt)
    SIGNATURE_BOTH = 0x3,
  };

  struct Attributes {
    uint32_t mask = 0;
    std::wstring strSignature1;
    std::wstring strSignature2;
  };

  // Wraps a shared signature object; the destructor hands it back to its set. A null object
  // makes both operations return false without touching the last error.
  explicit OxSignatureInterface(oxm::OxSignature* signature);
  ~OxSignatureInterface();
  OxSignatureInterface(const OxSignatureInterface&) = delete;
  OxSignatureInterface& operator=(const OxSignatureInterface&) = delete;

  // Reads the selected files, the first before the second; the first failure ends the call
  // with that file's code (..._1 for Data1.txt, ..._2 for Data2.txt): no file
  // (OXMDL_ERR_SIG_NOFILE1), longer than 8192 bytes (OXMDL_ERR_SIG_TOO_LONG1), open or read
  // failures, repairs of an interrupted replacement that fail. A mask without bits 0 and 1
  // reads nothing and succeeds. The mask is 0 on return; a field whose read failed is untouched.
  bool ReadAttributes(Attributes* attrs);
  // Replaces the selected files crash-safely, the first before the second. Less than 512,000
  // bytes free: OXMDL_ERR_SIG_DISK_FULL before anything is written; a text longer than 4096
  // UTF-16 characters: OXMDL_ERR_SIG_TOO_LONG1 / 2 with that file untouched. A missing file is
  // made. A mask without bits 0 and 1 writes nothing and succeeds.
  bool WriteAttributes(const Attributes& attrs);
  unsigned long GetErrorInfo() const;

 private:
  oxm::OxSignature* signature_;
};
