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
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "accounts/account_info.h"
#include "accounts/paths.h"
#include "platform/fs.h"
#include "transport/sender.h"

namespace {

constexpr const wchar_t* kAcceptedFile = L"Accepted.dat";
constexpr size_t kMaxRecord = 256;

}  // namespace

// Once for a run, with the account: its note, open for the run (one write to note, one cut to
// empty it).
void Sender::findAccepted() {
  accepted_.reset();
  std::wstring name;
  const std::wstring path =
      account_ && account_->GetAccountName(&name) ? oxm::accountFilePath(name, kAcceptedFile) : L"";
  auto file = std::make_unique<oxm::File>();
  if (path.empty() || !file->open(path, oxm::GENERIC_READ | oxm::GENERIC_WRITE, 0, oxm::OPEN_ALWAYS) ||
      !file->size(&acceptedSize_)) {
    return;
  }
  accepted_ = std::move(file);
}

bool Sender::noteAccepted(unsigned long id, size_t size, const std::string& mark) {
  const std::string record = std::to_string(id) + " " + std::to_string(size) + " " + mark;
  if (!accepted_ || !accepted_->writeAt(0, record.data(), record.size()) ||
      (acceptedSize_ > record.size() && !accepted_->truncate(record.size()))) {
    return false;
  }
  acceptedSize_ = record.size();
  return true;
}

void Sender::clearAccepted() {
  if (accepted_ && acceptedSize_ != 0 && accepted_->truncate(0)) acceptedSize_ = 0;
}

bool Sender::acceptedMark(unsigned long id, size_t size, std::string* mark) const {
  std::string record(std::min(acceptedSize_, kMaxRecord), '\0');
  size_t got = 0;
  if (!accepted_ || record.empty() || !accepted_->seek(0, SEEK_SET) || !accepted_->read(record.data(), record.size(), &got)) {
    return false;
  }
  record.resize(got);
  const std::string key = std::to_string(id) + " " + std::to_string(size) + " ";
  if (record.compare(0, key.size(), key) != 0) return false;
  *mark = record.substr(key.size());
  return true;
}
