#include "accounts/classifier.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <new>

#include "accounts/account_info.h"
#include "accounts/new_message.h"
#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "store/message_maker.h"
#include "store/storage_interface.h"

namespace {

// Message kinds the rules' targets select: 1 received mail, 2 the others.
constexpr unsigned long kReceived = 1;
constexpr unsigned long kOther = 2;

// The numeric attribute a stored message carries, as a rule kind: received (1) and imported (4)
// messages are received mail, sent messages (0) the others; drafts (3) and unknown ones take
// part in no rule.
unsigned long kindOf(unsigned int numericAttribute) {
  switch (numericAttribute) {
    case 1: return kReceived;
    case 0: return kOther;
    case 3: return 4;
    case 4: return kReceived;
    default: return 0;
  }
}

bool takesPart(uint32_t target, unsigned long kind) {
  return (target == 3 && (kind == kReceived || kind == kOther)) || (target == 1 && kind == kReceived) ||
         (target == 2 && kind == kOther);
}

// The message identifiers of a folder that vanished: its files are gone.
bool folderGone(unsigned code) {
  return code == OXMDL_ERR_STG_NOFILE_FLD || code == OXMDL_ERR_STG_NO_FOLDER;
}

}  // namespace

OxClassifier::OxClassifier() = default;
OxClassifier::~OxClassifier() = default;

// What the classifier keeps is one account's: another account starts afresh.
void OxClassifier::useAccount(OxAccountInfoInterface* account) {
  if (account == account_) return;
  receiveTray_.reset();
  storage_.reset();
  rules_.clear();
  loaded_ = false;
  account_ = account;
}

OxStorageInterface* OxClassifier::storageOf(OxAccountInfoInterface* account) {
  if (!storage_) storage_.reset(account->OpenStorage());
  return storage_.get();
}

OxFolderInterface* OxClassifier::receiveTrayOf(OxAccountInfoInterface* account, OxStorageInterface* storage) {
  if (!receiveTray_) {
    OxAccountInfoInterface::Attributes trays;
    trays.mask = OxAccountInfoInterface::Mask::ulJusinTrayID;
    if (!account->GetAccountInfoAttributes(&trays)) return nullptr;
    receiveTray_.reset(storage->OpenFolder(trays.ulJusinTrayID));
  }
  return receiveTray_.get();
}

bool OxClassifier::loadClassificationParamAttributes(OxAccountInfoInterface* account) {
  if (loaded_) return true;
  std::unique_ptr<OxClassificationParamInterface> rules(account->OpenClassificationParamInterface());
  if (!rules) return false;
  std::vector<OxClassificationParamInterface::Attributes> list;
  if (!rules->GetAttributes(&list)) return false;
  for (auto& rule : list) {
    std::wstring lower;
    if (!toLowerString(rule.strKeyword, &lower)) return false;
    rule.strKeyword = lower;
  }
  rules_ = std::move(list);
  loaded_ = true;
  return true;
}

bool OxClassifier::toLowerString(const std::wstring& in, std::wstring* out) {
  try {
    out->assign(in.size(), L'\0');
  } catch (const std::bad_alloc&) {
    SetOxMiddleError(OXMDL_ERR_CLS_NO_MEMORY);
    return false;
  }
  for (size_t i = 0; i < in.size(); ++i) (*out)[i] = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(in[i])));
  return true;
}

bool OxClassifier::getClassifiedFolderId(Email* mail, unsigned long kind, unsigned long* folder, bool* found) {
  *found = false;
  for (const auto& rule : rules_) {
    if (!takesPart(rule.ulTarget, kind)) continue;
    std::vector<const std::wstring*> texts;
    if (rule.strField == L"From") {
      texts = {&mail->from, &mail->fromName};
    } else if (rule.strField == L"To") {
      for (const auto& a : mail->to) texts.push_back(&a);
    } else if (rule.strField == L"Cc") {
      for (const auto& a : mail->cc) texts.push_back(&a);
    } else if (rule.strField == L"\u4ef6\u540d") {  // the subject
      texts = {&mail->subject};
    } else if (rule.strField == L"X-ML-name") {
      texts = {&mail->mlName};
    }
    for (const std::wstring* text : texts) {
      std::wstring lower;
      if (!toLowerString(*text, &lower)) return false;
      if (lower.find(rule.strKeyword) != std::wstring::npos) {
        *folder = rule.ulFolderID;
        *found = true;
        return true;
      }
    }
  }
  return true;
}

bool OxClassifier::SaveToFolder(std::string& text, const std::string& uid, bool partial,
                                OxAccountInfoInterface* account) {
  if (!account) {
    SetOxMiddleError(OXMDL_ERR_CLS_NO_ACCOUNT);
    return false;
  }
  useAccount(account);
  Email mail;
  EmlCompose codec;
  if (!codec.DecodeForSave(&mail, &text) || !loadClassificationParamAttributes(account)) return false;
  OxStorageInterface* storage = storageOf(account);
  if (!storage) return false;
  unsigned long target = 0;
  bool found = false;
  if (!getClassifiedFolderId(&mail, kReceived, &target, &found)) return false;
  std::unique_ptr<OxFolderInterface> folder;
  if (found) {
    folder.reset(storage->OpenFolder(target));
    if (!folder && !folderGone(GetOxMiddleError())) return false;
  }
  OxFolderInterface* into = folder ? folder.get() : receiveTrayOf(account, storage);
  if (!into) return false;
  const unsigned int received = 1;
  OxMessageInterface::Attributes a =
      oxm::newMessageAttributes(codec, mail, !mail.enclosures.empty(), received, mail.date);
  a.flags[OxMessageInterface::FLAG_UNREAD] = 1;
  a.flags[OxMessageInterface::FLAG_PARTIAL] = partial ? 1 : 0;
  a.text = uid;
  unsigned long id = 0;
  return oxm::MessageMaker::create(*into, a, text, &id);
}

bool OxClassifier::MoveToFolder(unsigned long messageId, OxAccountInfoInterface* account) {
  if (!account) {
    SetOxMiddleError(OXMDL_ERR_CLS_NO_ACCOUNT);
    return false;
  }
  useAccount(account);
  if (!loadClassificationParamAttributes(account)) return false;
  OxStorageInterface* storage = storageOf(account);
  if (!storage) return false;
  Email mail;
  OxMessageInterface::Attributes a;
  {
    std::unique_ptr<OxMessageInterface> message(storage->OpenMessage(messageId));
    if (!message) return false;
    a.mask = OxMessageInterface::ATTR_NUMERIC;
    if (!message->GetAttributes(&a)) return false;
    // A message of a kind no rule takes part in (no rules, or a sent copy) is not read and
    // decoded: nothing could move it, and the sender files every sent copy through here.
    const unsigned long kind = kindOf(a.numericAttribute);
    if (std::none_of(rules_.begin(), rules_.end(), [kind](const auto& r) { return takesPart(r.ulTarget, kind); }))
      return true;
    std::string text;
    if (!message->Read(&text)) return false;
    EmlCompose codec;
    if (!codec.Decode(&mail, &text)) return false;
  }
  unsigned long target = 0;
  bool found = false;
  if (!getClassifiedFolderId(&mail, kindOf(a.numericAttribute), &target, &found)) return false;
  if (!found) return true;
  if (storage->MoveMessage(messageId, target)) return true;
  return folderGone(GetOxMiddleError());
}
