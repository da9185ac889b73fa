#include "feeds/rssparser/src/mfd_rssnamespace.h"

#include <array>
#include <cstring>
#include <initializer_list>

namespace oxm {

namespace {

using E = mfd_elem;
constexpr size_t kElems = static_cast<size_t>(E::count_);

struct Name {
  const char* text;
  mfd_elem elem;
};

// Element names outside the Dublin Core and Syndication namespaces. "textInput" is the spelling
// of 0.91 and 2.0, "textinput" that of 0.9 and 1.0.
const Name kNames[] = {
    {"accesskey", E::accesskey}, {"author", E::author}, {"background-img", E::backgroundImg},
    {"category", E::category}, {"channel", E::channel}, {"channels", E::channels},
    {"channelset", E::channelset}, {"cinst", E::cinst}, {"cloud", E::cloud},
    {"comments", E::comments}, {"copyright", E::copyright}, {"count", E::count}, {"day", E::day},
    {"description", E::description}, {"docs", E::docs}, {"enclosure", E::enclosure},
    {"generator", E::generator}, {"guid", E::guid}, {"height", E::height}, {"hour", E::hour},
    {"image", E::image}, {"init", E::init}, {"item", E::item}, {"items", E::items},
    {"language", E::language}, {"lastBuildDate", E::lastBuildDate}, {"link", E::link},
    {"managingEditor", E::managingEditor}, {"name", E::name}, {"portalmenu", E::portalmenu},
    {"pubDate", E::pubDate}, {"rating", E::rating}, {"skipDays", E::skipDays},
    {"skipHours", E::skipHours}, {"source", E::source}, {"template", E::template_},
    {"textInput", E::textinput}, {"textinput", E::textinput}, {"title", E::title},
    {"touch", E::touch}, {"ttl", E::ttl}, {"url", E::url}, {"webMaster", E::webMaster},
    {"width", E::width},
};

// In the order of the Dublin Core and Syndication objects' fields.
const char* const kDublinCore[] = {"contributor", "coverage", "creator", "date", "description",
                                   "format", "identifier", "language", "publisher", "relation",
                                   "rights", "source", "subject", "title", "type"};
const char* const kSyndication[] = {"updatePeriod", "updateFrequency", "updateBase"};

mfd_elem offset(mfd_elem first, size_t i) { return static_cast<mfd_elem>(static_cast<size_t>(first) + i); }

template <size_t N>
mfd_elem findIn(const char* const (&names)[N], mfd_elem first, const char* localName) {
  for (size_t i = 0; i < N; ++i)
    if (std::strcmp(names[i], localName) == 0) return offset(first, i);
  return E::unknown;
}

constexpr uint16_t bit(mfd_ns ns) { return mfd_ns_bit(ns); }

struct DialectRow {
  mfd_dialect dialect;
  const char* name;
  uint16_t accepted;  // namespaces whose elements are not errors
};

const DialectRow kDialects[] = {
    {mfd_dialect::none, "none", 0},
    {mfd_dialect::rss090, "RSS 0.9", bit(mfd_ns::rdf) | bit(mfd_ns::rss09)},
    {mfd_dialect::rss091, "RSS 0.91", bit(mfd_ns::none)},
    {mfd_dialect::rss100, "RSS 1.0", bit(mfd_ns::rdf) | bit(mfd_ns::rss10) | bit(mfd_ns::dc) | bit(mfd_ns::sy)},
    {mfd_dialect::rss200, "RSS 2.0", bit(mfd_ns::none) | bit(mfd_ns::cs2005)},
    {mfd_dialect::channelset100, "channel set 1.0",
     bit(mfd_ns::cs2005) | bit(mfd_ns::cs2006) | bit(mfd_ns::dc) | bit(mfd_ns::sy)},
    {mfd_dialect::channelset200, "channel set 2.0",
     bit(mfd_ns::cs2005) | bit(mfd_ns::cs2006) | bit(mfd_ns::dc) | bit(mfd_ns::sy)},
};

struct VocabularyRow {
  std::initializer_list<mfd_dialect> dialects;
  uint16_t namespaces;
  std::initializer_list<mfd_elem> elems;
};

// Which elements each dialect reads, in which namespaces. The Dublin Core and Syndication
// elements are added whole where a row names dc_first / sy_first.
const std::initializer_list<mfd_elem> k091 = {
    E::channel, E::item, E::image, E::textinput, E::title, E::link, E::description, E::language,
    E::copyright, E::managingEditor, E::webMaster, E::pubDate, E::lastBuildDate, E::docs,
    E::rating, E::skipHours, E::hour, E::skipDays, E::day, E::width, E::height, E::name, E::url};

using D = mfd_dialect;
const VocabularyRow kVocabulary[] = {
    {{D::rss090}, bit(mfd_ns::rss09),
     {E::channel, E::item, E::image, E::textinput, E::title, E::link, E::description, E::name, E::url}},
    {{D::rss091, D::rss200}, bit(mfd_ns::none), k091},
    {{D::rss100}, bit(mfd_ns::rss10),
     {E::channel, E::item, E::image, E::textinput, E::title, E::link, E::description, E::template_,
      E::name, E::items, E::url}},
    {{D::rss100, D::channelset100, D::channelset200}, bit(mfd_ns::dc), {E::dc_first}},
    {{D::rss100, D::channelset100, D::channelset200}, bit(mfd_ns::sy), {E::sy_first}},
    {{D::rss200}, bit(mfd_ns::none),
     {E::category, E::generator, E::cloud, E::ttl, E::author, E::comments, E::cinst,
      E::enclosure, E::guid, E::source}},
    {{D::rss200}, bit(mfd_ns::cs2005), {E::channelset}},
    {{D::channelset100, D::channelset200}, bit(mfd_ns::cs2005) | bit(mfd_ns::cs2006),
     {E::channelset, E::channel, E::channels, E::title, E::link, E::description, E::accesskey,
      E::image, E::init, E::portalmenu, E::backgroundImg, E::template_, E::touch, E::count}},
};

constexpr size_t kDialectCount = sizeof(kDialects) / sizeof(kDialects[0]);
using Table = std::array<std::array<uint16_t, kElems>, kDialectCount>;

// vocabulary[dialect][element]: the namespaces in which the dialect reads the element.
const Table& vocabulary() {
  static const Table table = [] {
    Table t{};
    for (const VocabularyRow& row : kVocabulary)
      for (mfd_dialect d : row.dialects)
        for (mfd_elem e : row.elems) {
          auto& of = t[static_cast<size_t>(d)];
          if (e == E::dc_first || e == E::sy_first) {
            const mfd_elem last = e == E::dc_first ? E::dc_last : E::sy_last;
            for (size_t i = static_cast<size_t>(e); i <= static_cast<size_t>(last); ++i) of[i] |= row.namespaces;
          } else {
            of[static_cast<size_t>(e)] |= row.namespaces;
          }
        }
    return t;
  }();
  return table;
}

}  // namespace

mfd_ns mfd_namespace_of(const char* uri) {
  if (!uri || !*uri) return mfd_ns::none;
  static const std::pair<const char*, mfd_ns> kUris[] = {
      {kMfdRdf, mfd_ns::rdf}, {kMfdRss09, mfd_ns::rss09}, {kMfdRss10, mfd_ns::rss10},
      {kMfdDublinCore, mfd_ns::dc}, {kMfdSyndication, mfd_ns::sy},
      {kMfdChannelSet2005, mfd_ns::cs2005}, {kMfdChannelSet2006, mfd_ns::cs2006}};
  for (const auto& [text, ns] : kUris)
    if (std::strcmp(text, uri) == 0) return ns;
  return mfd_ns::other;
}

const char* mfd_dialect_name(mfd_dialect dialect) { return kDialects[static_cast<size_t>(dialect)].name; }

mfd_elem mfd_element_of(mfd_ns ns, const char* localName) {
  if (ns == mfd_ns::dc) return findIn(kDublinCore, E::dc_first, localName);
  if (ns == mfd_ns::sy) return findIn(kSyndication, E::sy_first, localName);
  size_t lo = 0;
  size_t hi = sizeof(kNames) / sizeof(kNames[0]);
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const int c = std::strcmp(kNames[mid].text, localName);
    if (c == 0) return kNames[mid].elem;
    if (c < 0) lo = mid + 1;
    else hi = mid;
  }
  return E::unknown;
}

bool mfd_dialect_accepts(mfd_dialect dialect, mfd_ns ns) {
  return (kDialects[static_cast<size_t>(dialect)].accepted & mfd_ns_bit(ns)) != 0;
}

bool mfd_dialect_reads(mfd_dialect dialect, mfd_elem elem, mfd_ns ns) {
  return (vocabulary()[static_cast<size_t>(dialect)][static_cast<size_t>(elem)] & mfd_ns_bit(ns)) != 0;
}

}  // namespace oxm
