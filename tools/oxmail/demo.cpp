// `oxmail demo`: the library's main job on local mail, in a fresh temporary device root: an
// account, sample messages imported, the folder tree and list view, a Japanese message decoded,
// a reply draft, an export. Then, when the servers are installed, the whole road on local
// servers (demo_road.cpp).
#include <cstdio>
#include <string>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/demo.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

struct Sample {
  const char* name;
  const char* text;
};
const Sample kSamples[] = {
#include "tools/oxmail/samples.inc"
};

}  // namespace

void step(const std::string& what, const std::string& command) {
  std::printf("\n== %s\n$ oxmail %s\n", what.c_str(), command.c_str());
  std::fflush(stdout);
}

int runDemo(const Words& words) {
  Args args(words, {"scripts"}, {"local"});
  args.atMost(0);
  const std::string root = OxMakeTemporaryDirectory("oxmail-demo");
  if (root.empty() || !OxSetDeviceRoot(root)) throw Failure("cannot make a temporary device root");
  std::printf("oxmail demo: a fresh device root at %s\n", root.c_str());

  step("Set up the device root", "init");
  runInit({});

  step("Create an account with its four trays", "account add Demo --address taro@example.jp --name \"Taro Suzuki\"");
  runAccount({"add", "Demo", "--address", "taro@example.jp", "--name", "Taro Suzuki"});

  // The sample messages are written as files into the device root and imported from there.
  const std::string samples = root + "/samples";
  if (!OxCreateDeviceDirectory(L"\\samples")) throw Failure("cannot create " + samples);
  for (const Sample& s : kSamples) {
    if (!OxWriteDeviceFile(L"\\samples\\" + wide(s.name), s.text)) throw Failure("cannot write a sample message");
  }
  step("Import four sample messages into the inbox", "import Demo inbox " + samples);
  runImport({"Demo", "inbox", samples});

  step("The folder tree", "folder list Demo");
  runFolder({"list", "Demo"});

  step("The list view of the inbox", "ls Demo inbox");
  runLs({"Demo", "inbox"});

  // The Japanese sample is the one with the pictogram; find its identifier through the list.
  unsigned long japanese = 0;
  {
    Account account("Demo");
    Owned<OxFolderInterface> inbox = account.openFolder(account.trayId("inbox"));
    std::vector<unsigned long> ids;
    inbox->GetMessageIds(&ids);
    for (unsigned long id : ids) {
      Owned<OxMessageInterface> m = account.openMessage(id);
      OxMessageInterface::Attributes a;
      a.mask = OxMessageInterface::ATTR_FROM_ADDRESS | OxMessageInterface::ATTR_SUBJECT;
      if (m->GetAttributes(&a) && a.subject.find(L'\u4f1a') != std::wstring::npos) japanese = id;
    }
  }
  const std::string id = std::to_string(japanese);
  step("A Japanese message (ISO-2022-JP, with a pictogram tag) decoded", "show Demo " + id);
  runShow({"Demo", id});

  step("A reply draft in the drafts tray", "reply Demo " + id);
  runReply({"Demo", id}, 0);
  step("The drafts tray", "ls Demo drafts");
  runLs({"Demo", "drafts"});

  const std::string out = root + "/export";
  OxCreateDeviceDirectory(L"\\export");
  step("Export the inbox to message files", "export Demo inbox --to " + out);
  runExport({"Demo", "inbox", "--to", out});

  const int road = args.has("local") ? kExitOk : runRoad(root, args.value("scripts").value_or(OXMAIL_SCRIPTS_DIR));

  std::printf("\nThe device root is kept at %s; look around (oxmail --root %s ...), then remove it.\n",
              root.c_str(), root.c_str());
  return road;
}

}  // namespace oxmail
