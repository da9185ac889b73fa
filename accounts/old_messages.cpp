#include "accounts/old_messages.h"

#include "frame/oxerror.h"

namespace oxm {

unsigned AccountLimits::readLimits(OldMessageLimits* limits) {
  if (!account_) return OXMDL_ERR_STG_INVALID_ARG;
  OxAccountInfoInterface::Attributes attrs;
  attrs.mask = OxAccountInfoInterface::Mask::ulRemoveOldMessageCnt | OxAccountInfoInterface::Mask::ulJusinTrayID |
               OxAccountInfoInterface::Mask::ulSousinZumiTrayID;
  SetOxMiddleError(OXMDL_ERR_NONE);
  if (!account_->GetAccountInfoAttributes(&attrs)) {
    // An interface without its account fails without a code of its own.
    const unsigned code = GetOxMiddleError();
    return code == OXMDL_ERR_NONE ? OXMDL_ERR_STG_INVALID_ARG : code;
  }
  limits->cap = attrs.ulRemoveOldMessageCnt;
  limits->receiveTray = attrs.ulJusinTrayID;
  limits->sentTray = attrs.ulSousinZumiTrayID;
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
