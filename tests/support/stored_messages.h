// What an account's storage holds, for the retriever tests: every message of the folder tree
// (not the virtual folders, which repeat them), ordered by identifier.
#pragma once

#include <string>
#include <vector>

class OxAccountInfoInterface;

namespace oxm::test {

struct Stored {
  unsigned long id;
  std::string uid;
  int unread, attachment, partial;
  std::string text;
  unsigned long folder;
};

std::vector<Stored> storedMessages(OxAccountInfoInterface& account);

}  // namespace oxm::test
