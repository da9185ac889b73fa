// The program's commands. Each takes its arguments (after the command name) and returns the
// exit code; usage errors and failures are thrown (output.h) and reported by main.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Email;

namespace oxmail {

class Args;

using Words = std::vector<std::string>;

int runInit(const Words& args);
int runAccount(const Words& args);
int runFolder(const Words& args);
int runLs(const Words& args);
int runShow(const Words& args);
int runMark(const Words& args);
int runMv(const Words& args);
int runRm(const Words& args);
int runCompose(const Words& args);
int runReply(const Words& args, int kind);
int runImport(const Words& args);
int runExport(const Words& args);
int runRules(const Words& args);
int runSignature(const Words& args);
int runRecover(const Words& args);
int runFetch(const Words& args);
int runSend(const Words& args);
int runTimer(const Words& args);
int runLog(const Words& args);
int runFeed(const Words& args);
int runDemo(const Words& args);
int runError(const Words& args);

// account add's --smtp-auth, --smtp-user and --smtp-password as settings (and, for cram-md5 and
// login, the mechanism kept for `oxmail send`).
void smtpAuthSettings(const Args& args, const std::string& account, std::vector<std::string>* pairs);

// "the key name contains "=" (OXMDL_ERR_INI_KEY_INVALID, 0x02000099)" for a library code.
std::string describe(unsigned int code);

// `oxmail show` of a feed message (its decoded record and stored text), or --save-attachments.
int showFeedItem(unsigned long id, const std::string& raw, const ::Email& mail, const std::optional<std::string>& saveTo);

}  // namespace oxmail
