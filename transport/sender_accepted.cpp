// The accepted message: once the server has accepted an outbox message, and before it is filed,
// its outbox identifier and its mark are written to "Accepted.dat" in the account directory
// ("<id> <mark>"). A run that takes that message from the outbox again (an earlier run died
// between the acceptance and the removal from the outbox) files it instead of sending it twice.
// The record is emptied once the message has left the outbox. A stale record can only name a
// message that is gone: the sent copy is made after the outbox message, so the outbox
// message's identifier is never the storage's newest and is not given out again.
//
// The record is not flushed: a power cut that takes it back leaves a message that is sent again
// (as when the process dies before the record), never one that is lost.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "accounts/account_info.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "platform/fs.h"
#include "transport/sender.h"

namespace {

constexpr const wchar_t* kAcceptedFile = L"Accepted.dat";
constexpr size_t kMaxRecord = 256;

}  // namespace

std::wstring Sender::acceptedPath() const {
  std::wstring dataPath, name;
  if (!account_ || !account_->GetAccountName(&name) || oxm::readDataPath(L"", &dataPath) != OXMDL_ERR_NONE) return {};
  return dataPath + name + L"\\" + kAcceptedFile;
}

bool Sender::noteAccepted(unsigned long id, const std::string& mark) {
  const std::wstring path = acceptedPath();
  oxm::File file;
  if (path.empty() || !file.open(path, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS)) return false;
  const std::string record = std::to_string(id) + " " + mark;
  return file.write(record.data(), record.size());
}

void Sender::clearAccepted() {
  const std::wstring path = acceptedPath();
  oxm::File file;
  if (!path.empty()) file.open(path, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS);
}

bool Sender::acceptedMark(unsigned long id, std::string* mark) const {
  const std::wstring path = acceptedPath();
  oxm::File file;
  std::string record(kMaxRecord, '\0');
  size_t got = 0;
  if (path.empty() || !file.open(path, oxm::GENERIC_READ, oxm::FILE_SHARE_READ, oxm::OPEN_EXISTING) ||
      !file.read(record.data(), record.size(), &got)) {
    return false;
  }
  record.resize(got);
  const size_t blank = record.find(' ');
  if (blank == std::string::npos || record.compare(0, blank, std::to_string(id)) != 0) return false;
  *mark = record.substr(blank + 1);
  return true;
}
