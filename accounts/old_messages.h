// The account's side of the old-message check: the cap on the receive and sent trays and the
// trays' folder identifiers come from the account's settings, the messages from its storage.
// The retriever and the sender make one AccountOldMessageCheck per run.
#pragma once

#include "accounts/account_info.h"
#include "store/oldmessage.h"

namespace oxm {

// "ulRemoveOldMessageCnt", "ulJusinTrayID" and "ulSousinZumiTrayID" of the account, in one
// attributes read (missing keys give their defaults 500, 1 and 3). A read that fails keeps its
// code (a missing AccountInfo.ini: the profile's code); no account: OXMDL_ERR_STG_INVALID_ARG.
class AccountLimits : public OldMessageAccount {
 public:
  explicit AccountLimits(OxAccountInfoInterface* account) : account_(account) {}
  unsigned readLimits(OldMessageLimits* limits) override;

 private:
  OxAccountInfoInterface* account_;
};

// The old-message check on an account's trays. Neither the account nor the storage (the
// account's own, from OpenStorage) is owned; both must outlive the check.
class AccountOldMessageCheck {
 public:
  AccountOldMessageCheck(OxAccountInfoInterface* account, OxStorageInterface* storage)
      : limits_(account), check_(storage, &limits_) {}
  AccountOldMessageCheck(const AccountOldMessageCheck&) = delete;
  AccountOldMessageCheck& operator=(const AccountOldMessageCheck&) = delete;

  // OldMessageCheck::Check: true when `incoming` more messages fit (*missing the number removed
  // to make room, 0 when none); false with *missing > 0 when that many places are still
  // lacking after every removable message went; false with *missing 0 on a failure, its code
  // left as the last error (null `missing`: OXMDL_ERR_OLD_NULL_ARG).
  bool Check(unsigned long incoming, unsigned long* missing) { return check_.Check(incoming, missing); }

 private:
  AccountLimits limits_;
  OldMessageCheck check_;
};

}  // namespace oxm
