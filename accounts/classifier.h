// OxClassifier sorts messages into an account's folders by its rules: the first rule whose
// header field contains the rule's keyword (case ignored) names the folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "accounts/classification.h"

class OxAccountInfoInterface;
class OxFolderInterface;
class OxStorageInterface;
struct Email;

class OxClassifier {
 public:
  OxClassifier();
  ~OxClassifier();
  OxClassifier(const OxClassifier&) = delete;
  OxClassifier& operator=(const OxClassifier&) = delete;

  // Stores a received message: decoded for saving (a made-up Date line goes into `text`),
  // filed in the folder of the first matching rule for received mail, or in the receive tray
  // when no rule matches or the rule's folder is gone. The message is unread, carries `uid` as
  // its text attribute and `partial` as its partial flag. A failure after the message was
  // created removes it again; the failing step's code is the last error. A null account:
  // OXMDL_ERR_CLS_NO_ACCOUNT. The account's storage and receive tray stay open until the
  // classifier is destroyed or given another account (the tray cannot be removed meanwhile).
  bool SaveToFolder(std::string& text, const std::string& uid, bool partial, OxAccountInfoInterface* account);
  // Sorts a stored message again: moves it to the folder of the first matching rule for its
  // kind (received, or sent and drafts). No match, or a rule whose folder is gone, leaves it
  // where it is and succeeds. A null account: OXMDL_ERR_CLS_NO_ACCOUNT.
  bool MoveToFolder(unsigned long messageId, OxAccountInfoInterface* account);

 private:
  bool loadClassificationParamAttributes(OxAccountInfoInterface* account);
  bool toLowerString(const std::wstring& in, std::wstring* out);
  bool getClassifiedFolderId(Email* mail, unsigned long kind, unsigned long* folder, bool* found);
  void useAccount(OxAccountInfoInterface* account);
  OxStorageInterface* storageOf(OxAccountInfoInterface* account);
  OxFolderInterface* receiveTrayOf(OxAccountInfoInterface* account, OxStorageInterface* storage);

  bool loaded_ = false;
  std::vector<OxClassificationParamInterface::Attributes> rules_;  // keywords lower-cased
  // Like the rules, the account's storage and receive tray are opened once for the account a
  // classifier serves (a retrieval or send run makes one), not again for every message; the
  // tray, open meanwhile, cannot be removed.
  OxAccountInfoInterface* account_ = nullptr;
  std::unique_ptr<OxStorageInterface> storage_;
  std::unique_ptr<OxFolderInterface> receiveTray_;  // of storage_, closed before it
};
