#include "transport/pop_state.h"

namespace oxm {

const char* popStateName(PopState state) {
  switch (state) {
    case PopState::Greeting: return "GREETING";
    case PopState::UserSent: return "USER_SENT";
    case PopState::PassSent: return "PASS_SENT";
    case PopState::UidlSent: return "UIDL_SENT";
    case PopState::ListNext: return "LIST_NEXT";
    case PopState::ListSize: return "LIST_SIZE";
    case PopState::StatNext: return "STAT_NEXT";
    case PopState::StatSent: return "STAT_SENT";
    case PopState::DeleReceived: return "DELE_RECEIVED";
    case PopState::RetrNext: return "RETR_NEXT";
    case PopState::ListBeforeRetr: return "LIST_BEFORE_RETR";
    case PopState::RetrSent: return "RETR_SENT";
    case PopState::RetrReading: return "RETR_READING";
    case PopState::RetrDone: return "RETR_DONE";
    case PopState::DeleNext: return "DELE_NEXT";
    case PopState::DeleReply: return "DELE_REPLY";
    case PopState::LastUidl: return "LAST_UIDL";
    case PopState::LastUidlReply: return "LAST_UIDL_REPLY";
    case PopState::DeleSelected: return "DELE_SELECTED";
    case PopState::QuitNext: return "QUIT_NEXT";
    case PopState::QuitSent: return "QUIT_SENT";
    case PopState::Finished: return "FINISHED";
    case PopState::ListAll: return "LIST_ALL";
    case PopState::ListAllReply: return "LIST_ALL_REPLY";
  }
  return "?";
}

}  // namespace oxm
