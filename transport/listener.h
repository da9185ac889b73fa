// The one-listener rule of the transport classes: with none registered the given one is taken,
// null unregisters, and a second non-null listener is refused.
#pragma once

namespace oxm::transport {

template <class Listener>
bool registerListener(Listener*& slot, Listener* next) {
  if (slot && next) return false;
  slot = next;
  return true;
}

}  // namespace oxm::transport
