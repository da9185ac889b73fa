// OxAutoRetriever: the W account's retrieval at once.
#include <memory>

#include "accounts/account_info.h"
#include "accounts/system_info.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "transport/periodic.h"
#include "transport/retriever.h"

OxAutoRetriever::OxAutoRetriever() : retriever_(std::make_unique<OxRetriever>()) {}

OxAutoRetriever::~OxAutoRetriever() = default;

bool OxAutoRetriever::StartWaiting(OxRASController* controller) {
  oxm::NKDbgPrintfW(L"OxAutoRetriever::StartWaiting() --- TOP\r\n");
  std::wstring name;
  if (!OxSystemInfoInterface::GetWAccount(name, L"")) return false;
  if (name.empty()) {
    SetOxMiddleError(OXMDL_ERR_AUTO_NO_WACCOUNT);
    return false;
  }
  std::unique_ptr<OxAccountInfoInterface> account(OxAccountInfoInterface::OpenAccountInfo(name, L""));
  if (!account) return false;
  retriever_->SetWAccountMode();
  const bool result = retriever_->RetrieveMessages(account.get(), controller, std::string());
  account.reset();
  retriever_->CancelWAccountMode();
  oxm::NKDbgPrintfW(L"OxAutoRetriever::StartWaiting() --- END\r\n");
  return result;
}

bool OxAutoRetriever::StopWaiting() {
  retriever_->CancelRetrieveMessages();
  return true;
}
