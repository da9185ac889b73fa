#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cctype>
#include <ctime>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/question.h"
#include "platform/registry.h"
#include "transport/ras_controller.h"

namespace {

using namespace oxm;

constexpr int kAccept = 0;
constexpr int kRefuse = 10;
constexpr int kUnreadable = 5;

// The subject as the device's certificate parser wrote it: "C=JP, O=Org, CN=host", in the
// certificate's order, with short field names and UTF-8 values.
std::string subjectText(X509* cert) {
  X509_NAME* name = X509_get_subject_name(cert);
  std::string text;
  for (int i = 0; name && i < X509_NAME_entry_count(name); ++i) {
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const char* field = OBJ_nid2sn(OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)));
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    if (!text.empty()) text += ", ";
    text += field ? field : "?";
    text += "=";
    if (n > 0) text.append(reinterpret_cast<char*>(utf8), static_cast<size_t>(n));
    OPENSSL_free(utf8);
  }
  return text;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The common name: from "cn=" to the first ",", blank, tab, "'" or the end.
bool hostMatches(X509* cert, const std::string& host) {
  std::string subject = lower(subjectText(cert));
  size_t at = subject.find("cn=");
  if (at == std::string::npos) return false;
  at += 3;
  size_t end = subject.find_first_of(", \t'", at);
  std::string cn = subject.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return cn == lower(host);
}

// An ASN.1 time as a file time (100 ns units since 1601).
bool fileTimeOf(const ASN1_TIME* when, uint64_t* out) {
  struct tm parts = {};
  if (!when || ASN1_TIME_to_tm(when, &parts) != 1) return false;
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(parts.tm_year + 1900);
  st.wMonth = static_cast<WORD>(parts.tm_mon + 1);
  st.wDay = static_cast<WORD>(parts.tm_mday);
  st.wHour = static_cast<WORD>(parts.tm_hour);
  st.wMinute = static_cast<WORD>(parts.tm_min);
  st.wSecond = static_cast<WORD>(parts.tm_sec);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  *out = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return true;
}

bool withinValidity(X509* cert) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME ft;
  uint64_t from = 0, until = 0;
  if (!SystemTimeToFileTime(&now, &ft) || !fileTimeOf(X509_get0_notBefore(cert), &from) ||
      !fileTimeOf(X509_get0_notAfter(cert), &until))
    return false;
  uint64_t current = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return current >= from && current <= until;
}

// An untrusted issuer: the user decides, once per host (the value is named by the host name's
// first character). An empty host name is asked every time and never remembered.
int askUser(const std::string& host) {
  std::wstring remembered;
  if (!host.empty()) remembered.assign(1, static_cast<wchar_t>(static_cast<unsigned char>(host[0])));
  HKEY key = nullptr;
  if (!remembered.empty() &&
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key) == ERROR_SUCCESS) {
    DWORD accepted = 0;
    bool known = RegQueryDword(key, remembered, &accepted) == ERROR_SUCCESS && accepted == 1;
    RegCloseKey(key);
    if (known) return kAccept;
  }
  if (!askYesNo(L"確認", L"サーバー証明書が無効です。続行しますか?")) return kRefuse;
  if (!remembered.empty() &&
      RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tamarin\\OxMail", &key) == ERROR_SUCCESS) {
    RegSetDword(key, remembered, 1);
    RegCloseKey(key);
  }
  return kAccept;
}

}  // namespace

int certificateValidationCallback(unsigned long type, void* hostName, unsigned long chainLength,
                                  BLOB* chain, unsigned long flags) {
  NKDbgPrintfW(L"[SSL] certificateValidationCallback()\r\n");
  std::string host = hostName ? static_cast<const char*>(hostName) : "";
  if (type != 1) {
    NKDbgPrintfW(L"[SSL]  dwType error [%x]\r\n", static_cast<unsigned>(type));
    return kRefuse;
  }
  if (flags & 1) {
    NKDbgPrintfW(L"[SSL]  dwFlags error [%x]\r\n", static_cast<unsigned>(flags));
    return askUser(host);
  }
  if (!chain || chainLength == 0) {
    NKDbgPrintfW(L"[SSL]  pCertChain error\r\n");
    return kRefuse;
  }
  const unsigned char* der = chain[0].pBlobData;
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      der ? d2i_X509(nullptr, &der, static_cast<long>(chain[0].cbSize)) : nullptr, X509_free);
  if (!cert) {
    NKDbgPrintfW(L"[SSL]  - gSslCrackCertificate() error!!!!!!\r\n");
    return kUnreadable;
  }
  if (!hostMatches(cert.get(), host)) {
    NKDbgPrintfW(L"[SSL] certificateValidationCallback() host not match ERRROR\r\n");
    return kRefuse;
  }
  if (!withinValidity(cert.get())) return kRefuse;
  return kAccept;
}
