// Addresses of header fields: one address into its bare address and display name, and
// address lists split at the commas outside double quotes.
#pragma once

#include <list>
#include <string>

namespace oxm {

// "Name <a@b>", "a@b (Name)", "\"Name\" a@b", "<a@b>", "a@b". See address.cpp for the order of
// the rules.
void parseSingleAddress(const std::string& in, std::string* address, std::string* name);
void parseSingleAddress(const std::wstring& in, std::wstring* address, std::wstring* name);

// The bare address of every comma-separated piece (a comma inside double quotes does not split).
std::list<std::string> bareAddressList(const std::string& value);

// A From value rebuilt as "\"name\" <address>" (or the bare address), then split into the
// display part before "<" (keeping its quotes) and the address between "<" and ">".
void splitFrom(const std::string& value, std::string* from, std::string* fromName);

}  // namespace oxm
