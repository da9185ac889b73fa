// oxmail: the command-line program over liboxmiddle.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include <oxmiddle/oxmiddle.h>

#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"

namespace {

using oxmail::Words;

struct Command {
  const char* name;
  int (*run)(const Words&);
  const char* usage;    // the arguments after the command name
  const char* summary;  // one line for the command list
  const char* help;     // more lines for `oxmail help COMMAND`, or ""
};

int reply(const Words& a) { return oxmail::runReply(a, 0); }
int replyAll(const Words& a) { return oxmail::runReply(a, 1); }
int forward(const Words& a) { return oxmail::runReply(a, 2); }

const Command kCommands[] = {
    {"init", oxmail::runInit, "[--codepage 932|utf-8]", "set up a device root: registry values, system directories and files",
     "Safe to run again: what is there already is kept.\n"
     "--codepage sets the device's code page for the text inside: utf-8 (the default for a new\n"
     "root) keeps every character of received mail; 932 (Shift_JIS) is the original device's, and\n"
     "shows characters it lacks as \"?\" or the geta mark. Mail that fits ISO-2022-JP is sent the\n"
     "same in both. Folder names are stored in the code page, so change it only on a new root.\n"},
    {"account", oxmail::runAccount, "list | add NAME [KEY=VALUE]... | show NAME | set NAME KEY=VALUE... | rename OLD NEW | delete NAME",
     "list, create, show, change, rename and delete accounts",
     "add makes the account with its four trays (inbox, outbox, sent, drafts) and then sets the\n"
     "given keys; options --address, --name, --pop HOST[:PORT], --smtp HOST[:PORT], --user and\n"
     "--password (the POP3 login) set the usual ones; --apop logs in with APOP, --partial LINES\n"
     "retrieves only the header and the first LINES body lines, --delete-from-server deletes each\n"
     "message from the server once it is stored; --smtp-auth none|pop|auto|cram-md5|login, --smtp-user\n"
     "and --smtp-password set how `oxmail send` logs in. show prints every setting with its key name (passwords as\n"
     "****** unless --show-passwords). Keys are those of AccountInfo.ini: strSenderAddress,\n"
     "uiPopServerPort, bAPOPEnabled, ...; booleans take true/false.\n"},
    {"folder", oxmail::runFolder, "list ACCOUNT | create ACCOUNT NAME [--in FOLDER] | rename ACCOUNT FOLDER NAME | move ACCOUNT FOLDER TO | remove ACCOUNT FOLDER",
     "the folder tree with counts, and changes to it",
     "A FOLDER is inbox, outbox, sent, drafts, unread, partial, an identifier, or a path of\n"
     "folder names from the root such as \"Work/2026\" or from a tray such as \"inbox/News\".\n"},
    {"ls", oxmail::runLs, "ACCOUNT [FOLDER]", "list the messages of a folder (default: inbox)",
     "Columns: identifier, flags (U unread, A attachments, P partial, K kept), date, sender, subject.\n"},
    {"show", oxmail::runShow, "ACCOUNT ID [--raw | --headers | --html] [--save-attachments DIR]",
     "show a message decoded", ""},
    {"compose", oxmail::runCompose,
     "ACCOUNT --to ADDR [--to ...] [--cc ADDR]... [--bcc ADDR]... --subject TEXT (--body TEXT | --body-file F) [--attach F]... [--html F] | ACCOUNT --mailto URL",
     "write a message into the outbox", ""},
    {"reply", reply, "ACCOUNT ID", "make a reply draft in the drafts tray", ""},
    {"reply-all", replyAll, "ACCOUNT ID", "make a reply-to-all draft in the drafts tray", ""},
    {"forward", forward, "ACCOUNT ID", "make a forward draft in the drafts tray", ""},
    {"mark", oxmail::runMark, "ACCOUNT ID... read|unread|keep|nokeep", "change a message's flags", ""},
    {"mv", oxmail::runMv, "ACCOUNT ID... FOLDER", "move messages to another folder", ""},
    {"rm", oxmail::runRm, "ACCOUNT ID...", "remove messages", ""},
    {"import", oxmail::runImport, "ACCOUNT FOLDER PATH...", "store message files (.eml) in a folder",
     "A PATH may be a directory: its files are imported in name order.\n"},
    {"export", oxmail::runExport, "ACCOUNT FOLDER --to DIR", "write a folder's messages to files", ""},
    {"rules", oxmail::runRules, "ACCOUNT list | ACCOUNT add --field F --keyword K --folder FOLDER [--target received|other|both] [--name N] | ACCOUNT remove N | ACCOUNT apply [FOLDER]",
     "the sorting rules of an account", ""},
    {"signature", oxmail::runSignature, "ACCOUNT show | ACCOUNT set [--first TEXT | --first-file F] [--second TEXT | --second-file F]",
     "the two signatures of an account", ""},
    {"fetch", oxmail::runFetch,
     "ACCOUNT [--password P] [--partial | --select ID... | --clear-server] [--accept-certificate]",
     "retrieve an account's new mail from its POP3 server",
     "--partial retrieves in part this time; --select fetches the listed messages (received in part\n"
     "or header only) whole and replaces them; --clear-server deletes from the server what was\n"
     "received before. A certificate the system does not trust is asked about on the terminal and\n"
     "refused without one, unless --accept-certificate. Prints \"fetched N messages (M bytes) in S s\";\n"
     "with --json one line per message and the summary as JSON.\n"},
    {"send", oxmail::runSend, "ACCOUNT [--password P] [--accept-certificate]",
     "send the outbox over SMTP and file what went out in the sent tray",
     "Progress per message on a terminal; \"sent N of M messages\" at the end, with the library's\n"
     "code of each failure and the messages that stayed in the outbox. With --json one line per\n"
     "message sent and the summary as JSON. --password replaces the stored SMTP (or POP before SMTP)\n"
     "password for this run. A certificate the system does not trust is asked about on the\n"
     "terminal and refused without one, unless --accept-certificate.\n"},
    {"timer", oxmail::runTimer, "set MINUTES|off [--account NAME] | run",
     "periodic retrieval: the receive timer and the timer program",
     "set keeps the interval in the common settings, names the account (--account) and sets the\n"
     "receive timer; run starts what is due (the periodic retrieval) and sets the next timer.\n"},
    {"log", oxmail::runLog, "on | off | show", "the protocol log of the POP3 and SMTP conversations",
     "Passwords are written as \"*\" characters.\n"},
    {"recover", oxmail::runRecover, "ACCOUNT", "check and rebuild an account's message indexes",
     "Message files whose header is damaged are rebuilt from their text; files that cannot be used\n"
     "are moved into the storage's Quarantine directory, never deleted; messages that no folder\n"
     "lists go back to their folder, else to the inbox. Says what it did, or that the store is\n"
     "consistent when it changed nothing.\n"},
    {"feed", oxmail::runFeed, "add NAME URL | fetch NAME [--manual] | reget NAME ID...",
     "the feed account: set it up, fetch its items, get pictures again",
     "add sets up the device's feed account for an RSS/RDF document at http://HOST[:PORT]/PATH, with\n"
     "the folders News and Adv in its inbox and the rules that sort items into them; NAME then\n"
     "names it in every command (ls, show, folder list). A second add replaces URL and name.\n"
     "fetch replaces the stored items with the document's (asking the server for the manual\n"
     "mode with --manual, else the push mode) and downloads each item's picture; reget gets the\n"
     "pictures and contents of the listed items again and replaces them in place. Prints\n"
     "\"fetched N items (M without picture or contents) in S s\"; with --json one line per item.\n"},
    {"demo", oxmail::runDemo, "[--local] [--scripts DIR]",
     "show what the library does, in a fresh temporary device root",
     "Then the whole road on local servers: Dovecot, Exim and nginx started on free 127.0.0.1\n"
     "ports by DIR/demo_servers.sh (default: the scripts folder of the source tree), a Japanese\n"
     "message sent over SMTP, fetched over POP3 and shown, a feed fetched over HTTP and listed;\n"
     "the servers are stopped at the end, on failure or Ctrl-C. Without them installed (or\n"
     "without root) it says what is missing. --local skips the servers.\n"},
    {"error", oxmail::runError, "CODE", "the name and meaning of a library error code (hex)", ""},
};

const Command* find(const std::string& name) {
  for (const Command& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

void usage(FILE* out) {
  std::fputs("usage: oxmail [--root DIR] [--json] [--quiet] COMMAND [ARGS]\n\ncommands:\n", out);
  for (const Command& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fputs(
      "\noptions:\n"
      "  --root DIR   the device root (default: $OXMIDDLE_ROOT, else $XDG_DATA_HOME/oxmiddle,\n"
      "               else ~/.local/share/oxmiddle)\n"
      "  --json       results as JSON lines\n"
      "  --quiet      no progress bars\n"
      "  -h, --help   this text; 'oxmail help COMMAND' for one command\n"
      "\nexit codes: 0 success, 1 failure, 2 usage error\n",
      out);
}

void commandHelp(const Command& c, FILE* out) {
  std::fprintf(out, "usage: oxmail %s %s\n\n%s\n%s", c.name, c.usage, c.summary, c.help);
}

int usageError(const Command* c, const std::string& message) {
  std::fprintf(stderr, "oxmail: %s\n", message.c_str());
  if (c) {
    std::fprintf(stderr, "usage: oxmail %s %s\n(see 'oxmail help %s')\n", c->name, c->usage, c->name);
  } else {
    std::fputs("(see 'oxmail --help')\n", stderr);
  }
  return oxmail::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string opt = argv[i];
    if (opt == "-h" || opt == "--help") {
      usage(stdout);
      return oxmail::kExitOk;
    } else if (opt == "--json") {
      oxmail::settings().json = true;
    } else if (opt == "--quiet") {
      oxmail::settings().quiet = true;
    } else if (opt == "--root" || opt.rfind("--root=", 0) == 0) {
      std::string dir = opt == "--root" ? (i + 1 < argc ? argv[++i] : "") : opt.substr(7);
      if (dir.empty()) return usageError(nullptr, "option --root needs a directory");
      if (!OxSetDeviceRoot(dir)) {
        std::fprintf(stderr, "oxmail: cannot use %s as the device root\n", dir.c_str());
        return oxmail::kExitFailure;
      }
    } else {
      return usageError(nullptr, "unknown option " + opt);
    }
  }
  if (i >= argc) {
    usage(stderr);
    return oxmail::kExitUsage;
  }
  std::string name = argv[i++];
  Words args(argv + i, argv + argc);
  if (name == "help") {
    if (args.empty()) {
      usage(stdout);
      return oxmail::kExitOk;
    }
    name = args[0];
    args = {"--help"};
  }
  const Command* command = find(name);
  if (!command) return usageError(nullptr, "unknown command '" + name + "'");
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      commandHelp(*command, stdout);
      return oxmail::kExitOk;
    }
  }
  try {
    return command->run(args);
  } catch (const oxmail::UsageError& e) {
    return usageError(command, e.what());
  } catch (const oxmail::Failure& e) {
    std::fprintf(stderr, "oxmail: %s\n", e.what());
    return oxmail::kExitFailure;
  }
}
