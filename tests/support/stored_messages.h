// Every message of an account's folder tree (not the virtual folders), ordered by identifier.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_info.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"

namespace oxm::test {

struct Stored {
  unsigned long id;
  std::string uid;
  int unread, attachment, partial;
  std::string text;
  unsigned long folder;
};

inline std::vector<Stored> storedMessages(OxAccountInfoInterface& account) {
  std::unique_ptr<OxStorageInterface> storage(account.OpenStorage());
  if (!storage) return {};
  std::map<unsigned long, Stored> byId;
  std::function<void(OxFolderInterface&, unsigned long)> walk = [&](OxFolderInterface& folder, unsigned long self) {
    std::vector<unsigned long> ids;
    if (folder.GetMessageIds(&ids)) {
      for (unsigned long id : ids) {
        std::unique_ptr<OxMessageInterface> m(storage->OpenMessage(id));
        if (!m) continue;
        OxMessageInterface::Attributes at;
        at.mask = OxMessageInterface::ATTR_TEXT | OxMessageInterface::ATTR_UNREAD |
                  OxMessageInterface::ATTR_ATTACHMENT | OxMessageInterface::ATTR_PARTIAL;
        m->GetAttributes(&at);
        std::string text;
        m->Read(&text);
        byId[id] = Stored{id, at.text, at.flags[0], at.flags[1], at.flags[2], text, self};
      }
    }
    std::vector<unsigned long> children;
    if (!folder.GetFolderIds(&children)) return;
    for (unsigned long child : children) {
      if (child >= 0x10000) continue;  // the virtual folders repeat messages
      std::unique_ptr<OxFolderInterface> sub(storage->OpenFolder(child));
      if (sub) walk(*sub, child);
    }
  };
  std::unique_ptr<OxFolderInterface> root(storage->OpenRootFolder());
  if (root) walk(*root, 0);
  std::vector<Stored> out;
  for (auto& [id, s] : byId) out.push_back(s);
  return out;
}

}  // namespace oxm::test
