#include "platform/http.h"

// First version: the interface only; every request fails to connect until the libcurl side lands.
namespace oxm::http {

struct Root::Shared {};

Root::Root() = default;
Root::~Root() = default;
bool Root::open(const std::string&) { return false; }
void Root::close() {}
bool Root::isOpen() const { return false; }

const char* outcomeName(Outcome) { return "ConnectFailed"; }

Outcome perform(Root&, const Request&, Receiver&) { return Outcome::ConnectFailed; }

}  // namespace oxm::http
