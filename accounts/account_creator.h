// OxAccountCreator: makes a whole account in one call, the account with its directory and
// files and the four trays in its storage, whose folder identifiers it records in the
// account's settings ("ulJusinTrayID", "ulSousinTrayID", "ulSousinZumiTrayID",
// "ulSitagakiTrayID").
#pragma once

#include <string>

class OxAccountCreator {
 public:
  OxAccountCreator() = default;
  ~OxAccountCreator() = default;

  // A mail account named `name` under the mail program's registry key, made as
  // OxAccountInfoInterface::Create makes it (its directory numbered when taken). False with the
  // last error unchanged when an account of that name (or phone number) already opens; the
  // creation's codes when the account cannot be made (what it made so far stays, as Create
  // leaves it); the store's codes when a tray cannot be made, and the settings-write codes
  // when the identifiers cannot be recorded: the account made by this call is removed again
  // then, so a failed call leaves no account without its trays.
  bool CreateFolders(const std::wstring& name);
  // The same for a feed account (its directory is the name itself) under `regkey` (empty: the
  // mail program's key).
  bool CreateFeedFolders(const std::wstring& name, const std::wstring& regkey);
};
