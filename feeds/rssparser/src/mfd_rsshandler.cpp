#include "feeds/rssparser/src/mfd_rsshandler.h"

#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssnamespace.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "feeds/rssparser/src/mfd_vect.h"

namespace oxm {

namespace {

using E = mfd_elem;

// What an open element made current, so that its end can put back what was current before.
enum class Opened : uint8_t { none, channel, item, image, textinput, set, skipHours, skipDays };

// One open element. Invariant: `saved` is the container of kind `opened` that was current when
// the element started; textStart is where its text begins in the text buffer.
struct Frame {
  mfd_elem elem;
  Opened opened;
  bool collects;
  void* saved;
  size_t textStart;
};

struct UriCacheEntry {
  const xmlChar* uri;
  mfd_ns ns;
};
struct NameCacheEntry {
  const xmlChar* localName;
  mfd_ns ns;
  mfd_elem elem;
};

// The state of one parse. The reader's interned names (dictionary strings) key the caches.
struct Handler {
  xmlParserCtxtPtr ctxt;
  mfd_rssdocument* doc;
  mfd_dialect dialect;
  bool started;  // the first element was seen
  bool ended;    // a root of no version: nothing is read, the parse ends without error
  int failure;   // the code that ends the parse, 0 while it goes on
  mfd_vect frames;
  mfd_vect text;
  size_t skipDepth;  // > 0 inside an element refused for its namespace
  mfd_rsschannel* channel;
  mfd_rsschannel* lastChannel;  // RSS 0.9 and 1.0 put items and pictures after their channel
  mfd_rsschannelitem* item;
  mfd_rsschannelimage* image;
  mfd_rsschanneltextinput* textinput;
  mfd_rsschannelset* set;
  mfd_rsschannelset* lastSet;
  int skipHours;
  int skipDays;
  size_t itemElements;
  size_t treeBytes;
  unsigned uriNext;
  UriCacheEntry uris[8];
  NameCacheEntry names[256];
};

Handler* handlerOf(void* ctx) { return static_cast<Handler*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

bool isChannelSet(mfd_dialect d) { return d == mfd_dialect::channelset100 || d == mfd_dialect::channelset200; }

// ---- error records ----

void record(Handler* h, int line, int column, const char* message) {
  if (mfd_rssdocument_add_error(h->doc, line, column, message, std::strlen(message)) != MFD_OK && !h->failure) {
    h->failure = MFD_NO_MEMORY;
    xmlStopParser(h->ctxt);
  }
}

void recordHere(Handler* h, const char* message) {
  record(h, xmlSAX2GetLineNumber(h->ctxt), xmlSAX2GetColumnNumber(h->ctxt), message);
}

// Ends the parse with `code` (the first failure counts) and records why.
void fail(Handler* h, int code, const char* message) {
  if (h->failure) return;
  recordHere(h, message);
  h->failure = code;
  xmlStopParser(h->ctxt);
}

// The reader's complaints, by the name of the callback they stand for. A fatal one ends the
// parse: 2 when it is about memory or the limit of entity expansion, else 3.
void onReaderError(void* ctx, xmlErrorPtr error) {
  Handler* h = handlerOf(ctx);
  if (!error || h->failure) return;
  const char* kind = error->level == XML_ERR_FATAL ? "fatalError" : error->level == XML_ERR_ERROR ? "error" : "warning";
  char message[512];
  int n = std::snprintf(message, sizeof message, "%s: %s", kind, error->message ? error->message : "");
  if (n < 0) n = 0;
  size_t end = std::min(static_cast<size_t>(n), sizeof message - 1);
  while (end && (message[end - 1] == '\n' || message[end - 1] == ' ')) message[--end] = 0;
  record(h, error->line, error->int2, message);
  if (error->level == XML_ERR_FATAL && !h->failure) {
    const bool resource = error->code == XML_ERR_NO_MEMORY || error->code == XML_ERR_ENTITY_LOOP;
    h->failure = resource ? MFD_NO_MEMORY : MFD_INVALID;
  }
}

// Counts what the tree takes; past kMfdMaxTreeBytes the parse ends with 2.
bool charge(Handler* h, size_t bytes) {
  h->treeBytes += bytes;
  return h->treeBytes <= kMfdMaxTreeBytes;
}

// ---- names ----

mfd_ns namespaceOf(Handler* h, const xmlChar* uri) {
  if (!uri) return mfd_ns::none;
  for (const UriCacheEntry& e : h->uris)
    if (e.uri == uri) return e.ns;
  const mfd_ns ns = mfd_namespace_of(reinterpret_cast<const char*>(uri));
  if (xmlDictOwns(h->ctxt->dict, uri) == 1) h->uris[h->uriNext++ % 8] = {uri, ns};
  return ns;
}

mfd_elem elementOf(Handler* h, mfd_ns ns, const xmlChar* localName) {
  const size_t slot = ((reinterpret_cast<uintptr_t>(localName) >> 3) ^ static_cast<size_t>(ns)) & 255;
  NameCacheEntry& e = h->names[slot];
  if (e.localName == localName && e.ns == ns) return e.elem;
  const mfd_elem elem = mfd_element_of(ns, reinterpret_cast<const char*>(localName));
  if (xmlDictOwns(h->ctxt->dict, localName) == 1) e = {localName, ns, elem};
  return elem;
}

bool equals(const xmlChar* a, const char* b) { return a && std::strcmp(reinterpret_cast<const char*>(a), b) == 0; }

// ---- dialect recognition ----

// The first element decides the dialect. False when the parse ends here (a version error, or
// a root of no known version, which reads nothing and is no error).
bool recognise(Handler* h, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri, int nbNamespaces,
               const xmlChar** namespaces, int nbAttributes, const xmlChar** attributes) {
  const mfd_ns ns = namespaceOf(h, uri);
  mfd_dialect d = mfd_dialect::none;
  if (equals(localName, "csd")) {
    d = ns == mfd_ns::cs2006 ? mfd_dialect::channelset200 : ns == mfd_ns::cs2005 ? mfd_dialect::channelset100 : d;
  } else if ((equals(prefix, "rdf") && equals(localName, "RDF") && ns == mfd_ns::rdf) ||
             (equals(localName, "rss") && ns == mfd_ns::none)) {
    const xmlChar* version = nullptr;
    size_t versionLength = 0;
    for (int i = 0; i < nbAttributes; ++i) {
      const xmlChar** a = attributes + 5 * i;
      if (!a[2] && equals(a[0], "version")) {
        version = a[3];
        versionLength = static_cast<size_t>(a[4] - a[3]);
      }
    }
    const auto versionIs = [&](const char* v) {
      return version && std::strlen(v) == versionLength && std::memcmp(version, v, versionLength) == 0;
    };
    mfd_ns defaultNs = mfd_ns::other;
    bool rdfDeclared = false;
    for (int i = 0; i < nbNamespaces; ++i) {
      const xmlChar* declaredPrefix = namespaces[2 * i];
      const mfd_ns declared = namespaceOf(h, namespaces[2 * i + 1]);
      if (!declaredPrefix) defaultNs = declared;
      else if (equals(declaredPrefix, "rdf") && declared == mfd_ns::rdf) rdfDeclared = true;
    }
    if (versionIs("0.91")) d = mfd_dialect::rss091;
    else if (versionIs("2.0")) d = mfd_dialect::rss200;
    else if (rdfDeclared && defaultNs == mfd_ns::rss09) d = mfd_dialect::rss090;
    else if (rdfDeclared && defaultNs == mfd_ns::rss10) d = mfd_dialect::rss100;
    if (d == mfd_dialect::none) {
      h->ended = true;
      xmlStopParser(h->ctxt);
      return false;
    }
  } else if (ns == mfd_ns::rss09) {
    d = mfd_dialect::rss090;
  } else if (ns == mfd_ns::rss10) {
    d = mfd_dialect::rss100;
  }
  if (d == mfd_dialect::none) {
    fail(h, MFD_INVALID,
         ns == mfd_ns::none ? "defaultStartElement: version error (no namespace)" : "defaultStartElement: version error");
    return false;
  }
  h->dialect = d;
  h->doc->dialect = static_cast<int>(d);
  return true;
}

// ---- attributes ----

struct AttributeField {
  const char* name;
  int field;
};

const AttributeField kChannelAbout[] = {{"about", mfd_rsschannel_about}};
const AttributeField kCloud[] = {{"domain", mfd_rsschannel_cloudDomain},
                                 {"port", mfd_rsschannel_cloudPort},
                                 {"path", mfd_rsschannel_cloudPath},
                                 {"registerProcedure", mfd_rsschannel_cloudRegisterProcedure},
                                 {"protocol", mfd_rsschannel_cloudProtocol}};
const AttributeField kEnclosure[] = {{"url", mfd_rsschannelitem_enclosureUrl},
                                     {"length", mfd_rsschannelitem_enclosureLength},
                                     {"type", mfd_rsschannelitem_enclosureType}};
const AttributeField kGuid[] = {{"isPermaLink", mfd_rsschannelitem_guidIsPermaLink}};
const AttributeField kSource[] = {{"domain", mfd_rsschannelitem_sourceDomain}};
const AttributeField kChannelSet[] = {{"about", mfd_rsschannelset_about},
                                      {"class", mfd_rsschannelset_class},
                                      {"menu", mfd_rsschannelset_menu},
                                      {"style", mfd_rsschannelset_style}};

// Stores the attributes named in `fields` (only those in the RDF namespace when `rdfOnly`).
template <typename T, size_t N>
int readAttributes(Handler* h, T* object, int (*set)(T*, int, const char*, size_t), const AttributeField (&fields)[N],
                   int nbAttributes, const xmlChar** attributes, bool rdfOnly = false) {
  if (!object) return MFD_OK;
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar** a = attributes + 5 * i;
    if (rdfOnly && namespaceOf(h, a[2]) != mfd_ns::rdf) continue;
    for (const AttributeField& f : fields) {
      if (!equals(a[0], f.name)) continue;
      const size_t size = static_cast<size_t>(a[4] - a[3]);
      if (!charge(h, size * sizeof(wchar_t))) return MFD_NO_MEMORY;
      if (const int rc = set(object, f.field, reinterpret_cast<const char*>(a[3]), size); rc != MFD_OK) return rc;
    }
  }
  return MFD_OK;
}

// ---- containers ----

// The channel new items and pictures belong to: the open one, else the last one, else a new
// one (a document that starts with an item).
int currentChannel(Handler* h, mfd_rsschannel** out) {
  if (h->channel || h->lastChannel) {
    *out = h->channel ? h->channel : h->lastChannel;
    return MFD_OK;
  }
  mfd_rsschannel* c = nullptr;
  if (!charge(h, sizeof(mfd_rsschannel))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannel_create(&c); rc != MFD_OK) return rc;
  if (const int rc = mfd_rssdocument_add_channel(h->doc, c); rc != MFD_OK) {
    mfd_rsschannel_destroy(&c);
    return rc;
  }
  *out = h->lastChannel = c;
  return MFD_OK;
}

int currentSet(Handler* h, mfd_rsschannelset** out) {
  if (h->set || h->lastSet) {
    *out = h->set ? h->set : h->lastSet;
    return MFD_OK;
  }
  mfd_rsschannelset* s = nullptr;
  if (!charge(h, sizeof(mfd_rsschannelset))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannelset_create(&s); rc != MFD_OK) return rc;
  if (const int rc = mfd_rssdocument_add_channelset(h->doc, s); rc != MFD_OK) {
    mfd_rsschannelset_destroy(&s);
    return rc;
  }
  *out = h->lastSet = s;
  return MFD_OK;
}

template <typename T>
void makeCurrent(Frame* f, Opened kind, T** slot, T* object) {
  f->opened = kind;
  f->saved = *slot;
  *slot = object;
}

int openChannel(Handler* h, Frame* f, int nbAttributes, const xmlChar** attributes) {
  mfd_rsschannel* c = nullptr;
  if (!charge(h, sizeof(mfd_rsschannel))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannel_create(&c); rc != MFD_OK) return rc;
  int rc = MFD_OK;
  if (isChannelSet(h->dialect)) {
    mfd_rsschannelset* s = nullptr;
    rc = currentSet(h, &s);
    if (rc == MFD_OK) rc = mfd_rsschannelset_add_channel(s, c);
  } else {
    rc = mfd_rssdocument_add_channel(h->doc, c);
  }
  if (rc != MFD_OK) {
    mfd_rsschannel_destroy(&c);
    return rc;
  }
  if (!isChannelSet(h->dialect)) h->lastChannel = c;
  makeCurrent(f, Opened::channel, &h->channel, c);
  return readAttributes(h, c, mfd_rsschannel_set_field_utf8, kChannelAbout, nbAttributes, attributes,
                        !isChannelSet(h->dialect));
}

int openItem(Handler* h, Frame* f) {
  mfd_rsschannel* c = nullptr;
  if (const int rc = currentChannel(h, &c); rc != MFD_OK) return rc;
  mfd_rsschannelitem* item = nullptr;
  if (!charge(h, sizeof(mfd_rsschannelitem))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannelitem_create(&item); rc != MFD_OK) return rc;
  if (const int rc = mfd_rsschannel_add_item(c, item); rc != MFD_OK) {
    mfd_rsschannelitem_destroy(&item);
    return rc;
  }
  makeCurrent(f, Opened::item, &h->item, item);
  h->itemElements = 0;
  return MFD_OK;
}

int openImage(Handler* h, Frame* f) {
  mfd_rsschannelimage* image = nullptr;
  if (!charge(h, sizeof(mfd_rsschannelimage))) return MFD_NO_MEMORY;
  if (h->item) {
    if (const int rc = mfd_rsschannelitem_open_image(h->item, &image); rc != MFD_OK) return rc;
  } else {
    mfd_rsschannel* c = nullptr;
    if (const int rc = currentChannel(h, &c); rc != MFD_OK) return rc;
    if (const int rc = mfd_rsschannel_open_image(c, &image); rc != MFD_OK) return rc;
  }
  makeCurrent(f, Opened::image, &h->image, image);
  return MFD_OK;
}

int openTextInput(Handler* h, Frame* f) {
  mfd_rsschannel* c = nullptr;
  if (const int rc = currentChannel(h, &c); rc != MFD_OK) return rc;
  mfd_rsschanneltextinput* textinput = nullptr;
  if (!charge(h, sizeof(mfd_rsschanneltextinput))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannel_open_textinput(c, &textinput); rc != MFD_OK) return rc;
  makeCurrent(f, Opened::textinput, &h->textinput, textinput);
  return MFD_OK;
}

int openChannelSet(Handler* h, Frame* f, int nbAttributes, const xmlChar** attributes) {
  mfd_rsschannelset* s = nullptr;
  if (!charge(h, sizeof(mfd_rsschannelset))) return MFD_NO_MEMORY;
  if (const int rc = mfd_rsschannelset_create(&s); rc != MFD_OK) return rc;
  if (const int rc = mfd_rssdocument_add_channelset(h->doc, s); rc != MFD_OK) {
    mfd_rsschannelset_destroy(&s);
    return rc;
  }
  h->lastSet = s;
  makeCurrent(f, Opened::set, &h->set, s);
  return readAttributes(h, s, mfd_rsschannelset_set_field_utf8, kChannelSet, nbAttributes, attributes);
}

// Makes the element's container current or stores its attributes.
int openElement(Handler* h, Frame* f, int nbAttributes, const xmlChar** attributes) {
  switch (f->elem) {
    case E::channel:
      return openChannel(h, f, nbAttributes, attributes);
    case E::item:
      return openItem(h, f);
    case E::image:
      return isChannelSet(h->dialect) ? MFD_OK : openImage(h, f);
    case E::textinput:
      return openTextInput(h, f);
    case E::channelset:
      return openChannelSet(h, f, nbAttributes, attributes);
    case E::skipHours:
      f->opened = Opened::skipHours;
      ++h->skipHours;
      return MFD_OK;
    case E::skipDays:
      f->opened = Opened::skipDays;
      ++h->skipDays;
      return MFD_OK;
    case E::cloud:
      return readAttributes(h, h->channel, mfd_rsschannel_set_field_utf8, kCloud, nbAttributes, attributes);
    case E::enclosure:
      return readAttributes(h, h->item, mfd_rsschannelitem_set_field_utf8, kEnclosure, nbAttributes, attributes);
    case E::guid:
      return readAttributes(h, h->item, mfd_rsschannelitem_set_field_utf8, kGuid, nbAttributes, attributes);
    case E::source:
      return readAttributes(h, h->item, mfd_rsschannelitem_set_field_utf8, kSource, nbAttributes, attributes);
    default:
      return MFD_OK;
  }
}

void closeElement(Handler* h, const Frame& f) {
  switch (f.opened) {
    case Opened::channel: h->channel = static_cast<mfd_rsschannel*>(f.saved); break;
    case Opened::item: h->item = static_cast<mfd_rsschannelitem*>(f.saved); break;
    case Opened::image: h->image = static_cast<mfd_rsschannelimage*>(f.saved); break;
    case Opened::textinput: h->textinput = static_cast<mfd_rsschanneltextinput*>(f.saved); break;
    case Opened::set: h->set = static_cast<mfd_rsschannelset*>(f.saved); break;
    case Opened::skipHours: --h->skipHours; break;
    case Opened::skipDays: --h->skipDays; break;
    case Opened::none: break;
  }
}

// ---- text ----

using FieldOf = std::pair<mfd_elem, int>;
const FieldOf kChannelFields[] = {
    {E::title, mfd_rsschannel_title}, {E::link, mfd_rsschannel_link},
    {E::description, mfd_rsschannel_description}, {E::language, mfd_rsschannel_language},
    {E::copyright, mfd_rsschannel_copyright}, {E::managingEditor, mfd_rsschannel_managingEditor},
    {E::webMaster, mfd_rsschannel_webMaster}, {E::pubDate, mfd_rsschannel_pubDate},
    {E::lastBuildDate, mfd_rsschannel_lastBuildDate}, {E::category, mfd_rsschannel_category},
    {E::generator, mfd_rsschannel_generator}, {E::docs, mfd_rsschannel_docs},
    {E::ttl, mfd_rsschannel_ttl}, {E::rating, mfd_rsschannel_rating}};
const FieldOf kItemFields[] = {
    {E::title, mfd_rsschannelitem_title}, {E::description, mfd_rsschannelitem_description},
    {E::link, mfd_rsschannelitem_link}, {E::author, mfd_rsschannelitem_author},
    {E::category, mfd_rsschannelitem_category}, {E::comments, mfd_rsschannelitem_comments},
    {E::guid, mfd_rsschannelitem_guid}, {E::pubDate, mfd_rsschannelitem_pubDate},
    {E::source, mfd_rsschannelitem_source}, {E::cinst, mfd_rsschannelitem_cinst}};
const FieldOf kImageFields[] = {
    {E::title, mfd_rsschannelimage_title}, {E::url, mfd_rsschannelimage_url},
    {E::link, mfd_rsschannelimage_link}, {E::width, mfd_rsschannelimage_width},
    {E::height, mfd_rsschannelimage_height}, {E::description, mfd_rsschannelimage_description}};
const FieldOf kTextInputFields[] = {
    {E::title, mfd_rsschanneltextinput_title}, {E::description, mfd_rsschanneltextinput_description},
    {E::name, mfd_rsschanneltextinput_name}, {E::link, mfd_rsschanneltextinput_link}};
const FieldOf kSetFields[] = {
    {E::title, mfd_rsschannelset_title}, {E::link, mfd_rsschannelset_link},
    {E::description, mfd_rsschannelset_description}, {E::channels, mfd_rsschannelset_channels},
    {E::accesskey, mfd_rsschannelset_accesskey}, {E::image, mfd_rsschannelset_image},
    {E::init, mfd_rsschannelset_init}, {E::portalmenu, mfd_rsschannelset_portalmenu},
    {E::backgroundImg, mfd_rsschannelset_backgroundImg}, {E::template_, mfd_rsschannelset_template},
    {E::touch, mfd_rsschannelset_touch}, {E::count, mfd_rsschannelset_count}};

template <size_t N>
int fieldOf(const FieldOf (&table)[N], mfd_elem elem) {
  for (const FieldOf& f : table)
    if (f.first == elem) return f.second;
  return -1;
}

// Sets the element's field of `object` when the object is there and has one.
template <typename T, size_t N>
int storeIn(T* object, int (*set)(T*, int, const char*, size_t), const FieldOf (&table)[N], mfd_elem elem,
            const char* utf8, size_t size) {
  const int field = object ? fieldOf(table, elem) : -1;
  return field < 0 ? MFD_OK : set(object, field, utf8, size);
}

bool inRange(mfd_elem e, mfd_elem first, mfd_elem last) {
  return static_cast<int>(e) >= static_cast<int>(first) && static_cast<int>(e) <= static_cast<int>(last);
}

int storeDublinCore(Handler* h, mfd_elem elem, const char* utf8, size_t size) {
  mfd_rssdublincore* dc = nullptr;
  int rc = MFD_OK;
  if (h->item) rc = mfd_rsschannelitem_open_dublincore(h->item, &dc);
  else if (h->channel) rc = mfd_rsschannel_open_dublincore(h->channel, &dc);
  else if (h->set) rc = mfd_rsschannelset_open_dublincore(h->set, &dc);
  if (rc != MFD_OK || !dc) return rc;
  const int field = static_cast<int>(elem) - static_cast<int>(E::dc_first);
  return mfd_rssdublincore_set_field_utf8(dc, field, utf8, size);
}

int storeSyndication(Handler* h, mfd_elem elem, const char* utf8, size_t size) {
  mfd_rsssyndication* sy = nullptr;
  int rc = MFD_OK;
  if (h->channel) rc = mfd_rsschannel_open_syndication(h->channel, &sy);
  else if (h->set) rc = mfd_rsschannelset_open_syndication(h->set, &sy);
  if (rc != MFD_OK || !sy) return rc;
  const int field = static_cast<int>(elem) - static_cast<int>(E::sy_first);
  return mfd_rsssyndication_set_field_utf8(sy, field, utf8, size);
}

// Stores an element's text in the innermost open container that takes it; text with no such
// place is dropped. `parent` is the element that encloses it.
int storeText(Handler* h, mfd_elem elem, mfd_elem parent, const char* utf8, size_t size) {
  if (!charge(h, size * sizeof(wchar_t))) return MFD_NO_MEMORY;
  if (inRange(elem, E::dc_first, E::dc_last)) return storeDublinCore(h, elem, utf8, size);
  if (inRange(elem, E::sy_first, E::sy_last)) return storeSyndication(h, elem, utf8, size);
  if (isChannelSet(h->dialect)) {
    const bool common = elem == E::title || elem == E::link || elem == E::description;
    if (common && h->channel) return storeIn(h->channel, mfd_rsschannel_set_field_utf8, kChannelFields, elem, utf8, size);
    return storeIn(h->set, mfd_rsschannelset_set_field_utf8, kSetFields, elem, utf8, size);
  }
  switch (elem) {
    case E::title:
    case E::link:
    case E::description:
      if (h->image) return storeIn(h->image, mfd_rsschannelimage_set_field_utf8, kImageFields, elem, utf8, size);
      if (h->item) return storeIn(h->item, mfd_rsschannelitem_set_field_utf8, kItemFields, elem, utf8, size);
      if (h->textinput)
        return storeIn(h->textinput, mfd_rsschanneltextinput_set_field_utf8, kTextInputFields, elem, utf8, size);
      if (parent == E::channel)
        return storeIn(h->channel, mfd_rsschannel_set_field_utf8, kChannelFields, elem, utf8, size);
      return MFD_OK;
    case E::url:
    case E::width:
    case E::height:
      return storeIn(h->image, mfd_rsschannelimage_set_field_utf8, kImageFields, elem, utf8, size);
    case E::name:
      return storeIn(h->textinput, mfd_rsschanneltextinput_set_field_utf8, kTextInputFields, elem, utf8, size);
    case E::pubDate:
    case E::category:
      if (h->item) return storeIn(h->item, mfd_rsschannelitem_set_field_utf8, kItemFields, elem, utf8, size);
      return storeIn(h->channel, mfd_rsschannel_set_field_utf8, kChannelFields, elem, utf8, size);
    case E::hour:
    case E::day: {
      const bool day = elem == E::day;
      if (!h->channel || !(day ? h->skipDays : h->skipHours)) return MFD_OK;
      return mfd_rsschannel_add_skip_utf8(h->channel, day, utf8, size);
    }
    case E::author:
    case E::comments:
    case E::cinst:
    case E::guid:
    case E::source:
      return storeIn(h->item, mfd_rsschannelitem_set_field_utf8, kItemFields, elem, utf8, size);
    default:
      if (parent != E::channel) return MFD_OK;
      return storeIn(h->channel, mfd_rsschannel_set_field_utf8, kChannelFields, elem, utf8, size);
  }
}

bool collectsText(mfd_dialect d, mfd_elem elem) {
  if (elem == E::image) return isChannelSet(d);
  return static_cast<int>(elem) >= static_cast<int>(E::title) && elem != E::enclosure && elem != E::count_;
}

// ---- the reader's callbacks ----

void onStartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri, int nbNamespaces,
                    const xmlChar** namespaces, int nbAttributes, int, const xmlChar** attributes) {
  Handler* h = handlerOf(ctx);
  if (h->failure || h->ended) return;
  if (!h->started) {
    h->started = true;
    if (!recognise(h, localName, prefix, uri, nbNamespaces, namespaces, nbAttributes, attributes)) return;
  }
  // The reader does not bound nesting when it is fed in pieces; the stack of open elements is.
  if (mfd_vect_count<Frame>(&h->frames) + h->skipDepth >= kMfdMaxDepth) {
    fail(h, MFD_NO_MEMORY, "startElement (parse error): more than 256 elements open at once");
    return;
  }
  if (h->skipDepth) {
    ++h->skipDepth;
    return;
  }
  if (h->item && ++h->itemElements > kMfdMaxItemElements) {
    fail(h, MFD_NO_MEMORY, "startElement (parse error): more than 10000 elements in one item");
    return;
  }
  const mfd_ns ns = namespaceOf(h, uri);
  if (!mfd_dialect_accepts(h->dialect, ns)) {
    recordHere(h, "startElement (namespace error): no namespace matched");
    h->skipDepth = 1;
    return;
  }
  mfd_elem elem = elementOf(h, ns, localName);
  if (!mfd_dialect_reads(h->dialect, elem, ns)) elem = E::unknown;
  Frame f{elem, Opened::none, collectsText(h->dialect, elem), nullptr, h->text.size};
  int rc = openElement(h, &f, nbAttributes, attributes);
  if (rc == MFD_OK) rc = mfd_vect_append(&h->frames, &f, sizeof f);
  if (rc != MFD_OK) fail(h, rc, "startElement (parse error)");
}

void onEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  Handler* h = handlerOf(ctx);
  if (h->failure || h->ended) return;
  if (h->skipDepth) {
    --h->skipDepth;
    return;
  }
  const size_t depth = mfd_vect_count<Frame>(&h->frames);
  if (!depth) return;
  const Frame f = *mfd_vect_at<Frame>(&h->frames, depth - 1);
  mfd_vect_truncate(&h->frames, (depth - 1) * sizeof(Frame));
  if (f.collects) {
    const mfd_elem parent = depth > 1 ? mfd_vect_at<Frame>(&h->frames, depth - 2)->elem : E::unknown;
    const int rc = storeText(h, f.elem, parent, h->text.data + f.textStart, h->text.size - f.textStart);
    mfd_vect_truncate(&h->text, f.textStart);
    if (rc != MFD_OK) {
      fail(h, rc, rc == MFD_BAD_VALUE ? "characters (parse error): value outside its set" : "characters (parse error)");
      return;
    }
  }
  closeElement(h, f);
}

void onCharacters(void* ctx, const xmlChar* ch, int length) {
  Handler* h = handlerOf(ctx);
  if (h->failure || h->ended || h->skipDepth || length <= 0) return;
  const size_t depth = mfd_vect_count<Frame>(&h->frames);
  if (!depth) return;
  const Frame* f = mfd_vect_at<Frame>(&h->frames, depth - 1);
  if (!f->collects) return;
  if (h->text.size - f->textStart + static_cast<size_t>(length) > kMfdMaxTextBytes) {
    fail(h, MFD_NO_MEMORY, "characters (parse error): text of one element over 1 MB");
    return;
  }
  if (mfd_vect_append(&h->text, ch, static_cast<size_t>(length)) != MFD_OK)
    fail(h, MFD_NO_MEMORY, "characters (parse error)");
}

// Only internal general entities are declared: external ones and parameter entities are never
// declared, so nothing outside the document is ever fetched or read.
void onEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId, const xmlChar* systemId,
                  xmlChar* content) {
  if (type == XML_INTERNAL_GENERAL_ENTITY) xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
}

xmlParserInputPtr onResolveEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }

// libxml2's generic error channel (encoding complaints without a parser context): silenced
// while a feed parses, the same complaint reaching the records through the context.
void ignoreGenericError(void*, const char*, ...) {}

// Restores the thread's generic error channel on every path.
class GenericErrorsSilenced {
 public:
  GenericErrorsSilenced() : func_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
  }
  ~GenericErrorsSilenced() { xmlSetGenericErrorFunc(context_, func_); }
  GenericErrorsSilenced(const GenericErrorsSilenced&) = delete;
  GenericErrorsSilenced& operator=(const GenericErrorsSilenced&) = delete;

 private:
  xmlGenericErrorFunc func_;
  void* context_;
};

void releaseHandler(Handler* h) {
  if (h->ctxt) {
    if (h->ctxt->myDoc) xmlFreeDoc(h->ctxt->myDoc);
    h->ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(h->ctxt);
  }
  mfd_vect_free(&h->frames);
  mfd_vect_free(&h->text);
  mfd_free(h);
}

}  // namespace

void mfd_rsshandler_install(_xmlSAXHandler* sax) {
  std::memset(sax, 0, sizeof *sax);
  xmlSAXVersion(sax, 2);
  // Only what a feed needs: elements, text, the internal subset's entities and the errors. No
  // comment, processing instruction or declaration is kept; no external subset is loaded.
  sax->startElementNs = onStartElement;
  sax->endElementNs = onEndElement;
  sax->characters = onCharacters;
  sax->cdataBlock = onCharacters;
  sax->ignorableWhitespace = onCharacters;
  sax->entityDecl = onEntityDecl;
  sax->resolveEntity = onResolveEntity;
  sax->serror = onReaderError;
  sax->externalSubset = nullptr;
  sax->comment = nullptr;
  sax->processingInstruction = nullptr;
  sax->elementDecl = nullptr;
  sax->attributeDecl = nullptr;
  sax->notationDecl = nullptr;
  sax->unparsedEntityDecl = nullptr;
  sax->reference = nullptr;
  sax->startElement = nullptr;
  sax->endElement = nullptr;
  sax->warning = nullptr;
  sax->error = nullptr;
  sax->fatalError = nullptr;
}

int mfd_rsshandler_parse(const mfd_rssparser* parser, mfd_rssdocument* document, mfd_read_fn readChunk, void* context,
                         size_t chunk) {
  if (!parser || !parser->sax || !document || !readChunk || !chunk) return MFD_INVALID;
  Handler* h = MFD_NEW(Handler);
  char* buffer = static_cast<char*>(MFD_ALLOC(chunk));
  if (!h || !buffer) {
    mfd_free(h);
    mfd_free(buffer);
    return MFD_NO_MEMORY;
  }
  h->doc = document;
  GenericErrorsSilenced silenced;
  h->ctxt = xmlCreatePushParserCtxt(static_cast<xmlSAXHandlerPtr>(parser->sax), nullptr, nullptr, 0, nullptr);
  if (!h->ctxt) {
    releaseHandler(h);
    mfd_free(buffer);
    return MFD_NO_MEMORY;
  }
  h->ctxt->_private = h;
  // Entities are replaced where they stand (their text reaches the handlers every time), the
  // reader's own limits on entity expansion and nesting stay on, and it never goes to the net.
  xmlCtxtUseOptions(h->ctxt, XML_PARSE_NOENT | XML_PARSE_NONET);
  for (;;) {
    const long n = readChunk(context, buffer, chunk);
    if (n < 0) {
      fail(h, MFD_INVALID, "fatalError: the document cannot be read");
      break;
    }
    if (n == 0) break;
    xmlParseChunk(h->ctxt, buffer, static_cast<int>(n), 0);
    if (h->failure || h->ended) break;
  }
  if (!h->failure && !h->ended) xmlParseChunk(h->ctxt, nullptr, 0, 1);
  int rc = h->failure;
  if (!rc && !h->ended && (!h->ctxt->wellFormed || !h->started)) {
    rc = MFD_INVALID;
    if (!document->errors) recordHere(h, "fatalError: the document is not well-formed");
  }
  releaseHandler(h);
  mfd_free(buffer);
  return rc;
}

}  // namespace oxm
