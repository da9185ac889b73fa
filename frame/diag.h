// The library's diagnostic line for a failed call: four dashes, the class and member, "Error",
// the failing call and the code's name, for example
// "----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL\r\n". Nothing reads these back.
#pragma once

namespace oxm {

void debugError(const wchar_t* where, const wchar_t* call, unsigned code);

}  // namespace oxm
