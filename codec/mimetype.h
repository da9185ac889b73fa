// Media types by file extension, from the table in mimetype_table.inc.
#pragma once

#include <string>

namespace oxm {

// Fills the extension map once per process (thread-safe); later calls do nothing.
void loadExtensions();
// See EmlCompose::MimeTypeId.
std::wstring mimeTypeId(const std::wstring& name);

}  // namespace oxm
