// oxmail folder list|create|rename|move|remove
#include <cstdio>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

// The store refuses a name its child list cannot hold with the list's format code: after the
// checks made here, that means the name is too long.
[[noreturn]] void folderNameFailure(const std::string& what) {
  if (GetOxMiddleError() == OXMDL_ERR_STG_FILE_FMTILLGL_FLD) {
    throw UsageError(what + ": folder names are at most 252 bytes in the device's code page "
                            "(OXMDL_ERR_STG_FILE_FMTILLGL_FLD)");
  }
  libraryFailure(what);
}

unsigned long countUnread(Account& account, const std::vector<unsigned long>& ids) {
  unsigned long unread = 0;
  for (unsigned long id : ids) {
    Owned<OxMessageInterface> m(account.storage().OpenMessage(id));
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_UNREAD;
    if (m && m->GetAttributes(&a) && a.flags[OxMessageInterface::FLAG_UNREAD]) ++unread;
  }
  return unread;
}

void addRows(Account& account, unsigned long id, int depth, Table* table) {
  const auto& node = account.tree().at(id);
  for (unsigned long child : node.children) {
    Owned<OxFolderInterface> f = account.openFolder(child);
    std::vector<unsigned long> ids;
    if (!f->GetMessageIds(&ids)) libraryFailure("cannot list folder " + std::to_string(child));
    unsigned long unread = f->GetUnreadCount();
    // The virtual folders keep no flags of their own; their messages are asked.
    if (child >= 0x10000) unread = countUnread(account, ids);
    std::string name = settings().json ? utf8(account.tree().at(child).name)
                                       : std::string(2 * depth, ' ') + utf8(account.tree().at(child).name);
    table->add({Cell(static_cast<unsigned long>(child)), Cell(name), Cell(static_cast<unsigned long>(ids.size())),
                Cell(unread)});
    addRows(account, child, depth + 1, table);
  }
}

int list(const Args& args) {
  args.atMost(2);
  Account account(args.need(1, "ACCOUNT"));
  Table table({"id", "folder", "messages", "unread"});
  addRows(account, 0, 0, &table);
  table.print();
  return kExitOk;
}

// A folder that may be changed: not the root, not a virtual folder.
unsigned long changeable(Account& account, const std::string& arg) {
  const unsigned long id = account.folder(arg);
  if (id == 0 || id >= 0x10000) throw Failure("'" + arg + "' cannot be changed");
  return id;
}

int create(const Args& args) {
  args.atMost(3);
  Account account(args.need(1, "ACCOUNT"));
  const std::string name = args.need(2, "NAME");
  // Folders are named on the command line by paths of names: a name cannot hold the separator.
  checkName("folder", name, 0);
  const unsigned long parent = account.folder(args.value("in").value_or("root"));
  if (parent >= 0x10000) throw Failure("folders cannot be made in a virtual folder");
  Owned<OxFolderInterface> f = account.openFolder(parent);
  unsigned long id = 0;
  if (!f->CreateFolder(wide(name), &id)) folderNameFailure("cannot create the folder '" + name + "'");
  if (settings().json) {
    printRecord({{"id", Cell(id)}, {"folder", Cell(name)}});
  } else if (!settings().quiet) {
    std::printf("created folder %lu '%s'\n", id, name.c_str());
  }
  return kExitOk;
}

int rename(const Args& args) {
  args.atMost(4);
  Account account(args.need(1, "ACCOUNT"));
  const unsigned long id = changeable(account, args.need(2, "FOLDER"));
  const std::string name = args.need(3, "new NAME");
  checkName("folder", name, 0);
  Owned<OxFolderInterface> parent = account.openFolder(account.tree().at(id).parent);
  OxFolderInterface::FolderAttributes attr;
  if (!parent->ReadFolderAttributes(id, &attr)) libraryFailure("cannot read folder " + std::to_string(id));
  attr.name = wide(name);
  if (!parent->WriteFolderAttributes(id, attr)) folderNameFailure("cannot rename folder " + std::to_string(id));
  return kExitOk;
}

int move(const Args& args) {
  args.atMost(4);
  Account account(args.need(1, "ACCOUNT"));
  const unsigned long id = changeable(account, args.need(2, "FOLDER"));
  const unsigned long to = account.folder(args.need(3, "destination FOLDER"));
  if (to >= 0x10000) throw Failure("folders cannot be moved into a virtual folder");
  Owned<OxFolderInterface> parent = account.openFolder(account.tree().at(id).parent);
  Owned<OxFolderInterface> destination = account.openFolder(to);
  if (!parent->MoveFolder(id, destination.get())) libraryFailure("cannot move folder " + std::to_string(id));
  return kExitOk;
}

int removeFolder(const Args& args) {
  args.atMost(3);
  Account account(args.need(1, "ACCOUNT"));
  const unsigned long id = changeable(account, args.need(2, "FOLDER"));
  const auto a = account.attributes();
  for (unsigned long tray : {a.ulJusinTrayID, a.ulSousinTrayID, a.ulSousinZumiTrayID, a.ulSitagakiTrayID}) {
    if (tray == id) throw Failure("'" + args.positionals()[2] + "' is one of the account's trays and stays");
  }
  Owned<OxFolderInterface> parent = account.openFolder(account.tree().at(id).parent);
  if (!parent->RemoveFolder(id)) libraryFailure("cannot remove folder " + std::to_string(id));
  return kExitOk;
}

}  // namespace

int runFolder(const Words& words) {
  Args args(words, {"in"});
  const std::string sub = args.need(0, "subcommand (list, create, rename, move, remove)");
  if (sub == "list") return list(args);
  if (sub == "create") return create(args);
  if (sub == "rename") return rename(args);
  if (sub == "move") return move(args);
  if (sub == "remove") return removeFolder(args);
  throw UsageError("unknown subcommand '" + sub + "'");
}

}  // namespace oxmail
