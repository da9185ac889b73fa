// The accepted message: once the server has accepted an outbox message, and before it is filed,
// its outbox identifier, the size of its stored text and its mark are written to "Accepted.dat"
// in the account directory ("<id> <size> <mark>"). A run that takes that message from the outbox
// again (an earlier run died between the acceptance and the removal from the outbox) files it
// instead of sending it twice. The record is emptied once the message has left the outbox. A
// record left by a run that died between the two names a message that is gone: the sent copy is
// made after it, so its identifier is not given out again, and should a repair of the storage
// give it out all the same, the size must match too.
//
// The record is not flushed: a power cut that takes it back leaves a message that is sent again
// (as when the process dies before the record), never one that is lost.
#include <string>

#include "accounts/account_info.h"
#include "accounts/paths.h"
#include "platform/fs.h"
#include "transport/sender.h"

namespace {

constexpr const wchar_t* kAcceptedFile = L"Accepted.dat";
constexpr size_t kMaxRecord = 256;

}  // namespace

// Once for a run, with the account: the path of its note.
void Sender::findAccepted() {
  std::wstring name;
  acceptedPath_ = account_ && account_->GetAccountName(&name) ? oxm::accountFilePath(name, kAcceptedFile) : L"";
}

bool Sender::noteAccepted(unsigned long id, size_t size, const std::string& mark) {
  oxm::File file;
  if (acceptedPath_.empty() || !file.open(acceptedPath_, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS)) return false;
  const std::string record = std::to_string(id) + " " + std::to_string(size) + " " + mark;
  return file.write(record.data(), record.size());
}

void Sender::clearAccepted() {
  oxm::File file;
  if (!acceptedPath_.empty()) file.open(acceptedPath_, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS);
}

bool Sender::acceptedMark(unsigned long id, size_t size, std::string* mark) const {
  oxm::File file;
  std::string record(kMaxRecord, '\0');
  size_t got = 0;
  if (acceptedPath_.empty() ||
      !file.open(acceptedPath_, oxm::GENERIC_READ, oxm::FILE_SHARE_READ, oxm::OPEN_EXISTING) ||
      !file.read(record.data(), record.size(), &got)) {
    return false;
  }
  record.resize(got);
  const std::string key = std::to_string(id) + " " + std::to_string(size) + " ";
  if (record.compare(0, key.size(), key) != 0) return false;
  *mark = record.substr(key.size());
  return true;
}
