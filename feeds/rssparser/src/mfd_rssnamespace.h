// What the parser knows about names: the namespaces of the six dialects, the elements it
// stores, and for each dialect which namespaces it accepts and which elements it reads in
// which namespace.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oxm {

// The maker's two channel-set namespaces: the identifiers are this library's own choice (URNs,
// so that they name no one's web address): version 1.0 of 2005 and version 2.0 of 2006.
inline constexpr char kMfdChannelSet2005[] = "urn:tamarin:rivulet:channelset:2005:1.0";
inline constexpr char kMfdChannelSet2006[] = "urn:tamarin:rivulet:channelset:2006:2.0";
inline constexpr char kMfdRdf[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr char kMfdRss09[] = "http://my.netscape.com/rdf/simple/0.9/";
inline constexpr char kMfdRss10[] = "http://purl.org/rss/1.0/";
inline constexpr char kMfdDublinCore[] = "http://purl.org/dc/elements/1.1/";
inline constexpr char kMfdSyndication[] = "http://purl.org/rss/1.0/modules/syndication/";

enum class mfd_ns : uint8_t { none, rdf, rss09, rss10, dc, sy, cs2005, cs2006, other };
constexpr uint16_t mfd_ns_bit(mfd_ns ns) { return static_cast<uint16_t>(1u << static_cast<unsigned>(ns)); }

// The namespace of a URI (null or empty: none).
mfd_ns mfd_namespace_of(const char* uri);

enum class mfd_dialect : uint8_t { none, rss090, rss091, rss100, rss200, channelset100, channelset200 };
const char* mfd_dialect_name(mfd_dialect dialect);

// Elements the handlers act on. Containers first, then text fields; the Dublin Core and
// Syndication elements last, in the order of their objects' fields.
enum class mfd_elem : uint8_t {
  unknown,
  channel, item, image, textinput, cloud, skipHours, skipDays, items, channelset,
  title, link, description, url, width, height, name, language, copyright, managingEditor,
  webMaster, pubDate, lastBuildDate, docs, rating, hour, day, category, generator, ttl, author,
  comments, cinst, enclosure, guid, source, template_, channels, accesskey, init, portalmenu,
  backgroundImg, touch, count,
  dc_first,
  dc_last = dc_first + 14,
  sy_first,
  sy_last = sy_first + 2,
  count_,
};

// The element of a local name in a namespace (Dublin Core and Syndication names in their own
// namespaces, the rest in any).
mfd_elem mfd_element_of(mfd_ns ns, const char* localName);
// Whether a dialect accepts elements of the namespace at all, and whether it reads the element
// in that namespace.
bool mfd_dialect_accepts(mfd_dialect dialect, mfd_ns ns);
bool mfd_dialect_reads(mfd_dialect dialect, mfd_elem elem, mfd_ns ns);

}  // namespace oxm
