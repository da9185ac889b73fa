// The old-message check: before messages are retrieved or sent copies stored, it tells whether
// a number of further messages fits under the account's cap on the receive and sent trays, and
// removes the oldest read messages of those trays (and of every folder below them) to make
// room. Unread messages and messages marked to be kept are never removed.
#pragma once

#include "store/storage_interface.h"

namespace oxm {

// The account's values the check works with ("ulRemoveOldMessageCnt", "ulJusinTrayID",
// "ulSousinZumiTrayID").
struct OldMessageLimits {
  unsigned long cap = 500;
  unsigned long receiveTray = 0;
  unsigned long sentTray = 0;
};

// Where the values come from: the account layer reads them with one attributes read.
class OldMessageAccount {
 public:
  virtual ~OldMessageAccount() = default;
  virtual unsigned readLimits(OldMessageLimits* limits) = 0;
};

// Neither the storage nor the account is owned. The callers (retriever, sender) make one for a
// run; Check may be called more than once.
class OldMessageCheck {
 public:
  OldMessageCheck(OxStorageInterface* storage, OldMessageAccount* account)
      : storage_(storage), account_(account) {}

  // True: `incoming` more messages fit (*missing is 0, or the number removed to make room).
  // False with *missing > 0: after removing all it could, that many places are still lacking.
  // False otherwise: a failure, its code left as the last error (null `missing`:
  // OXMDL_ERR_OLD_NULL_ARG). Messages removed before a failure stay removed.
  bool Check(unsigned long incoming, unsigned long* missing);

 private:
  OxStorageInterface* storage_;
  OldMessageAccount* account_;
};

}  // namespace oxm
