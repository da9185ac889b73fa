#include "codec/date_field.h"

#include <cstdio>

#include "codec/email.h"
#include "codec/text_util.h"
#include "frame/textconv.h"
#include "platform/clock.h"
#include "platform/debug.h"

namespace oxm {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a proleptic Gregorian date, and back (any month/day overflow is
// carried, so a date can be moved by minutes without caring about month lengths).
long long daysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(long long z, long long* y, long long* m, long long* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp + (mp < 10 ? 3 : -9);
  *y = yoe + era * 400 + (*m <= 2);
}

long long floorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number the text starts with after blanks, saturating at 999,999,999; 0 without digits.
long number(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isBlankOrTab(s[i])) ++i;
  long v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) v = v >= 99999999 ? 999999999 : v * 10 + (s[i] - '0');
  return v;
}

bool isNumeric(std::string_view t) {
  if (t.empty()) return false;
  for (char c : t)
    if (!isDigit(c)) return false;
  return true;
}

bool isDayName(std::string_view t) {
  if (t.size() < 3) return false;
  const std::string head = lowerAscii(std::string(t.substr(0, 3)));
  for (const char* name : kDayNames)
    if (head == lowerAscii(std::string(name))) return true;
  return false;
}

// A month name by its distinguishing letters; 0 when the token names no month.
int monthByLetters(std::string_view t) {
  const char c0 = static_cast<char>(t[0] >= 'a' && t[0] <= 'z' ? t[0] - 'a' + 'A' : t[0]);
  const char c1 = lowerAsciiChar(t[1]);
  const char c2 = lowerAsciiChar(t[2]);
  switch (c0) {
    case 'D': return 12;
    case 'N': return 11;
    case 'O': return 10;
    case 'S': return 9;
    case 'F': return 2;
    case 'A': return c1 == 'p' ? 4 : 8;
    case 'J': return c1 == 'a' ? 1 : (c2 == 'l' ? 7 : 6);
    case 'M': return c2 == 'y' ? 5 : 3;
    default: return 0;
  }
}

// Comments in parentheses (nesting counted) and double-quoted strings go, with their
// delimiters; a backslash keeps a quote from closing its string.
std::string withoutComments(std::string_view v) {
  std::string out;
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    if (quoted) {
      if (c == '\\' && i + 1 < v.size())
        ++i;
      else if (c == '"')
        quoted = false;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0 && c == '"') {
      quoted = true;
    } else if (depth == 0) {
      out += c;
    }
  }
  return out;
}

bool isTokenSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

// The time token of the text after the year with the blanks inside it dropped (up to the third
// group of digits), then one blank, then the rest.
std::string tidyAfterYear(std::string_view rest) {
  size_t i = 0;
  while (i < rest.size() && isTokenSeparator(rest[i])) ++i;
  std::string time;
  int groups = 0;
  while (i < rest.size()) {
    const char c = rest[i];
    if (isDigit(c)) {
      if ((time.empty() || time.back() == ':') && ++groups > 3) break;
      time += c;
    } else if (c == ':') {
      time += c;
    } else if (isBlankOrTab(c)) {
      size_t j = i;
      while (j < rest.size() && isBlankOrTab(rest[j])) ++j;
      const bool inside = !time.empty() && (time.back() == ':' || (j < rest.size() && rest[j] == ':'));
      if (!inside) break;
      i = j;
      continue;
    } else {
      break;
    }
    ++i;
  }
  return time + " " + std::string(trimBlanks(rest.substr(i)));
}

// Minutes to add to the time written in `zone` to get device local time.
long shiftFor(const std::string& zone) {
  if (zone.size() == 1) {
    switch (zone[0]) {
      case 'A': return -60;
      case 'M': return -720;
      case 'N': return 60;
      case 'Y': return 720;
      default: return 0;
    }
  }
  if (zone.size() < 2) return 0;
  const long sign = zone[0] == '-' ? -1 : 1;
  const long hours = number(std::string_view(zone).substr(1, 2));
  const long minutes = zone.size() > 3 ? number(std::string_view(zone).substr(3, 2)) : 0;
  return deviceOffsetMinutes() - (hours * 60 + minutes) * sign;
}

struct Fields {
  long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

void moveByMinutes(Fields* f, long minutes) {
  if (minutes == 0) return;
  long long total = f->minute + minutes;
  f->minute = static_cast<long>(total - floorDiv(total, 60) * 60);
  total = f->hour + floorDiv(total, 60);
  f->hour = static_cast<long>(total - floorDiv(total, 24) * 24);
  long long days = daysFromCivil(f->year, f->month, f->day) + floorDiv(total, 24);
  long long y, m, d;
  civilFromDays(days, &y, &m, &d);
  f->year = static_cast<long>(y);
  f->month = static_cast<long>(m);
  f->day = static_cast<long>(d);
}

WORD dayOfWeek(long y, long m, long d) {
  const long long days = daysFromCivil(y, m, d);
  return static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
}

}  // namespace

std::string checkTimeZoneStr(std::string zone) {
  NKDbgPrintfW(L"-checkTimeZoneStr()\r\n");
  if (!zone.empty() && zone.back() == ' ') zone.pop_back();
  static const char* const kPad[] = {"000", "00", "0"};
  if (zone.size() == 1) return "+0000";
  if (zone.size() >= 2 && zone.size() <= 4) zone.insert(1, kPad[zone.size() - 2]);
  return zone;
}

std::string parseTimezone(std::string_view tidied) {
  const size_t colon = tidied.rfind(':');
  if (colon == std::string_view::npos || colon + 4 >= tidied.size()) return "+0000";
  const std::string zone(trimBlanks(tidied.substr(colon + 4)));
  if (zone.empty()) return "+0000";
  if (zone.back() == ')') {
    const size_t open = zone.rfind('(');
    if (open == std::string::npos) return "+0000";
    const char mark = zone[open >= 6 ? open - 6 : 0];
    if (mark != '+' && mark != '-') return "+0000";
    return checkTimeZoneStr(std::string(trimBlanks(std::string_view(zone).substr(0, open)))) + " " +
           zone.substr(open);
  }
  if (zone[0] == '+' || zone[0] == '-') return zone.size() < 5 ? checkTimeZoneStr(zone) : zone;
  static const struct {
    const char* name;
    const char* offset;
  } kNamed[] = {{"UT", "+0000"},  {"GMT", "+0000"}, {"EST", "-0500"}, {"EDT", "-0400"},
                {"CST", "-0600"}, {"CDT", "-0500"}, {"MST", "-0700"}, {"MDT", "-0600"},
                {"PST", "-0800"}, {"PDT", "-0700"}, {"JST", "+0900"}};
  for (const auto& z : kNamed)
    if (zone == z.name) return z.offset;
  if (zone == "Z" || zone == "A" || zone == "M" || zone == "N" || zone == "Y") return zone;
  return "+0000";
}

long deviceOffsetMinutes() {
  SYSTEMTIME local, utc;
  GetLocalTime(&local);
  GetSystemTime(&utc);
  const long long days = daysFromCivil(local.wYear, local.wMonth, local.wDay) - daysFromCivil(utc.wYear, utc.wMonth, utc.wDay);
  return static_cast<long>(days * 24 * 60 + (local.wHour - utc.wHour) * 60 + (local.wMinute - utc.wMinute));
}

DateField parseDateField(std::string_view value) {
  DateField result;
  result.text = value.find('(') != std::string_view::npos ? withoutComments(value) : std::string(value);
  const std::string_view text = result.text;
  Fields f;
  long day = 0, month = 0, year = 0;
  size_t afterYear = text.size();
  bool haveDay = false, haveYear = false;
  for (size_t i = 0; i < text.size() && !haveYear;) {
    while (i < text.size() && isTokenSeparator(text[i])) ++i;
    size_t e = i;
    while (e < text.size() && !isTokenSeparator(text[e])) ++e;
    const std::string_view token = text.substr(i, e - i);
    i = e;
    if (token.empty()) continue;
    if (!haveDay && isDigit(token[0])) {
      day = number(token);
      haveDay = true;
    } else if (haveDay && isNumeric(token)) {
      year = number(token);
      haveYear = true;
      afterYear = e;
    } else if (month == 0 && token.size() >= 3 && !isNumeric(token) && !isDayName(token)) {
      month = monthByLetters(token);
    }
  }
  if (haveDay && haveYear && month != 0) {
    f.day = day;
    f.month = month;
    f.year = year;
  }
  const std::string tidied = tidyAfterYear(text.substr(afterYear));
  const size_t colon = tidied.find(':');
  if (colon != std::string::npos) {
    const size_t from = colon >= 2 ? colon - 2 : 0;
    f.hour = number(std::string_view(tidied).substr(from, colon - from));
    f.minute = number(std::string_view(tidied).substr(colon + 1, 2));
    if (colon + 3 < tidied.size() && tidied[colon + 3] == ':') f.second = number(std::string_view(tidied).substr(colon + 4, 2));
  }
  result.zone = parseTimezone(tidied);
  // Bounds as the device checked them: an hour of 24..60 passes. Out-of-range fields are not
  // moved (the day arithmetic needs a real date).
  auto inRange = [](const Fields& x) {
    return x.year >= 1900 && x.year <= 2100 && x.month >= 1 && x.month <= 12 && x.day >= 1 && x.day <= 31 &&
           x.hour <= 60 && x.minute <= 60 && x.second <= 60;
  };
  if (!inRange(f)) return result;
  moveByMinutes(&f, shiftFor(result.zone));
  if (!inRange(f)) return result;
  result.local.wYear = static_cast<WORD>(f.year);
  result.local.wMonth = static_cast<WORD>(f.month);
  result.local.wDay = static_cast<WORD>(f.day);
  result.local.wHour = static_cast<WORD>(f.hour);
  result.local.wMinute = static_cast<WORD>(f.minute);
  result.local.wSecond = static_cast<WORD>(f.second);
  result.local.wDayOfWeek = dayOfWeek(f.year, f.month, f.day);
  result.accepted = true;
  return result;
}

void makeDateField(std::string* out, Email* email) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const LONG bias = timeZoneBias();
  char zone[16] = "";
  if (bias != 0) {
    const LONG magnitude = bias < 0 ? -bias : bias;
    std::snprintf(zone, sizeof zone, "%c%02d%02d", bias < 0 ? '+' : '-', static_cast<int>(magnitude / 60),
                  static_cast<int>(magnitude % 60));
  }
  const char* dayName = now.wDayOfWeek < 7 ? kDayNames[now.wDayOfWeek] : "";
  const char* monthName = now.wMonth >= 1 && now.wMonth <= 12 ? kMonthNames[now.wMonth - 1] : "";
  char line[96];
  std::snprintf(line, sizeof line, "\nDate: %s, %02d %s %04d %02d:%02d:%02d %s", dayName, now.wDay, monthName,
                now.wYear, now.wHour, now.wMinute, now.wSecond, zone);
  *out += line;
  email->date = now;
  multiToWide(zone, &email->timeZone);
}

}  // namespace oxm
