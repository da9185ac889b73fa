// The pieces of an outgoing message. Each maker appends to LF text; the whole message becomes
// CR LF at the very end. Texts go out as ISO-2022-JP (7 bit), header words as RFC 2047 encoded
// words, files in Base64, HTML in quoted-printable. Under the device code page 65001 a text that
// has a character without an ISO-2022-JP form goes out as UTF-8 instead (encoded words of
// charset "UTF-8", a UTF-8 body in quoted-printable or Base64); under 932 such a character
// becomes the geta mark.
#pragma once

#include <list>
#include <string>

#include "codec/email.h"

namespace oxm {

// The fixed boundaries of the three multipart levels, and of the related level of a feed
// message's HTML part.
inline constexpr char kMixedBoundary[] = "next_bound_m4345";
inline constexpr char kRelatedBoundary[] = "next_bound_r2123";
inline constexpr char kAlternativeBoundary[] = "next_bound_a3234";
inline constexpr char kFeedRelatedBoundary[] = "-----2123=next_bound=8273----";

// "tamarin OxMail/1.40 (K-PRISM)", with " [PictureMail]" for a picture mail.
std::string xMailerValue(bool pictureMail);

// Wide text to the system code page for sending: characters without a form there become the
// geta mark (under 65001 only a lone surrogate has none: "?").
std::string sendingText(const std::wstring& wide);

enum class WordEncoding { B, Q };
// A header text as it is when every character is below 0x80, else as RFC 2047 encoded words
// of ISO-2022-JP (RFC 2047 sections 4 and 5), each made from the fewest characters that give
// at least 29 bytes of ISO-2022-JP (8 at the start), joined by LF and a blank; under 65001 a
// text without an ISO-2022-JP form as words of UTF-8, at most 45 bytes of whole characters each. CR and LF in
// the text become blanks, so that a text can never end the field early. Every field this
// library writes uses the B form (the subject, display names, Reply-To, file names); the Q form
// is there for callers that want it.
std::string encodeHeaderWord(const std::wstring& text, WordEncoding encoding = WordEncoding::B);
// Wide text with every CR and LF made a blank, for a value that must stay on one line.
std::wstring oneLine(std::wstring text);
// Wide text with every CR LF made LF.
std::wstring lfText(const std::wstring& text);
// The bare address of one address entry, in the system code page.
std::string bareAddressOf(const std::wstring& entry);
// The From value: the bare address, or the display name (as header word; an ASCII name
// without a double quote between double quotes) + " <" + bare address + ">".
std::string fromForm(const Email& mail);

// "\nTo: ", "\nCc: ", "\nBcc: " lines for the lists that are not empty, entries joined by
// ",\n ", each its bare address; every bare address is appended to *recipients. Entries
// without an address are left out.
void makeAddressField(std::string* out, const Email& mail, std::list<std::string>* recipients);
// "Message-Id: <YYYYMMDDhhmmss.zMMMM.envelopeFrom>" from the local clock (no line end).
void makeMessageIdField(std::string* out, const std::string& envelopeFrom);
// In-Reply-To and References lines of a reply (only when mail.messageId is set).
void makeInReplyToField(std::string* out, const Email& mail);

// Lines of at most 300 characters: a longer line gets an LF, moved before a "<" among the 13
// characters before the break so that a pictogram tag stays whole. The narrow form works on
// ISO-2022-JP text and counts a two-byte character as one; a break inside a two-byte run
// closes the run before the LF and opens it again after it (RFC 1468 section 3).
std::wstring checkSendBodyReturnCode(const std::wstring& text);
std::string checkSendBodyReturnCode(const std::string& iso2022jp);

// The plain text part: its Content-Type (us-ascii, ISO-2022-JP, or text/x-pmaildx when a
// device pictogram became a tag), a 7bit line when an HTML body exists, the empty line and the
// text. A UTF-8 text (65001, no ISO-2022-JP form) has charset "UTF-8" and quoted-printable or
// Base64, whichever is shorter. Returns OXMDL_ERR_NONE or the code of a failed heap probe.
unsigned makeBodyField(std::string* out, const Email& mail);
// The HTML part: for a mail between alternative boundaries, quoted-printable ISO-2022-JP; for
// a feed message without boundaries, as it is (ASCII) or ISO-2022-JP.
unsigned makeHtmlBodyField(std::string* out, const Email& mail);
// The feed form alone, whatever mail.feedMessage says.
unsigned makeFeedHtmlBodyField(std::string* out, const Email& mail);

// "Content-Type: multipart/<kind>;\n boundary=\"<boundary>\"\n", the preamble when it is the
// first one written (flags->first, cleared here), and the opening boundary.
void addMimeHeader(std::string* out, const char* kind, const std::string& boundary, MimeFlags* flags);
// "\n--boundary\n", or the closing "\n--boundary--".
void addBoundary(std::string* out, const std::string& boundary, bool closing);

// The multipart levels `mail` needs, their headers, and the boundary its files go under.
void encodeMimeHeader(std::string* out, const Email& mail, MimeFlags* flags, BoundStr* bounds);

// Where an outgoing file is read from: folder joined with name.
std::wstring enclosurePath(const Enclosure& file);
// The header of one file part: boundary, Content-Type with the name, the transfer encoding
// (none when empty), the disposition with the file name, the Content-ID, the empty line.
void addFilePartHeader(std::string* out, const std::string& boundary, const Enclosure& file,
                       const std::wstring& name, bool inlinePart, const std::string& transferEncoding);
// Every file in Base64 under `boundary`, related files (inlineAll) as inline parts. All paths
// are checked first: a missing file is OXMDL_ERR_MIME_FILE_MISSING before anything is written;
// one that cannot be read OXMDL_ERR_MIME_FILE_READ. On failure *out holds a partial part.
unsigned encodeMimeFiles(std::string* out, const std::string& boundary, const std::list<Enclosure>& files,
                         bool inlineAll);
// The Base64 of the whole file at `path`, lines of 76 characters.
unsigned encodeFile(std::string* out, const std::wstring& path);
// The related files and the enclosures of `mail` under their boundaries, and the closing
// boundary of their level.
unsigned encodeEnclosure(std::string* out, const Email& mail, const MimeFlags& flags, const BoundStr& bounds);

}  // namespace oxm
