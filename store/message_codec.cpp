#include "store/message_codec.h"

#include <atomic>

#include "frame/oxerror.h"

namespace oxm {

namespace {
std::atomic<MessageCodec*> registered{nullptr};
}  // namespace

void registerMessageCodec(MessageCodec* codec) { registered.store(codec); }

MessageCodec* messageCodec() { return registered.load(); }

unsigned requireMessageCodec(MessageCodec** codec) {
  *codec = registered.load();
  return *codec ? OXMDL_ERR_NONE : OXMDL_ERR_MEM_SHORTAGE;
}

}  // namespace oxm
