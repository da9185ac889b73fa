#!/usr/bin/env python3
"""Python's email package as a real peer of the encoder: every message Encode produced for the
composed cases of the encoding tests and in the corpus round trips is parsed by Python, whose
subject, From, To, Cc, text bodies and part names and bytes must equal what our decoder reads.

usage: compare_encoded_with_python.py [--codepage 932|65001] ENCODE_INTEROP TESTDATA_DIR

Differences made on purpose are compared again after undoing them, counted by name:
  boundary-line-end  the line end before a boundary is the boundary's; ours loses one more
  pictogram-tags     a text/x-pmaildx body carries pictograms as "<#TAG>" and "<" as "<<"
  jis-mapping        JIS X 0208 characters Python's iso-2022-jp maps apart from CP932 (WAVE DASH...)
  cp932-extensions   CP932 characters outside JIS X 0208 go by their CP932 row and cell
  address-not-bare   an entry that is not a plain address: Python's parser reads it otherwise
Exit status: 0 when every message matched, 1 otherwise, 77 when the test data is missing.
"""
import base64, email, email.header, email.policy, json, os, pathlib, re, subprocess, sys  # noqa: E401

import pycompare

# Python's iso-2022-jp -> CP932: WAVE DASH, DOUBLE VERTICAL LINE, MINUS SIGN, EM DASH, CENT, POUND, NOT SIGN
JIS_MAPPING = {"\u301c": "\uff5e", "\u2016": "\u2225", "\u2212": "\uff0d", "\u2014": "\u2015", "\u00a2": "\uffe0",
               "\u00a3": "\uffe1", "\u00ac": "\uffe2"}
PLAIN_ADDRESS = re.compile(r"[A-Za-z0-9._%+\-=!#$&'*/?^`{|}~]+@[A-Za-z0-9.\-]+")


def trailing(text):
    return text.replace("\r\n", "\n").rstrip("\n")


def tags(text, ours):
    return re.sub("[\ue000-\ue757]", "\x00", text) if ours else \
        re.sub(r"<#[^<>]{1,24}>", "\x00", text).replace("<<", "<")


def jis_mapped(text):
    return "".join(JIS_MAPPING.get(c, c) for c in text)


def iso2022jp_as_cp932(raw):
    """ISO-2022-JP bytes to text by their Shift_JIS row and cell, read as CP932."""
    out = bytearray()
    i, jis = 0, False
    while i < len(raw):
        if raw[i:i + 3] in (b"\x1b$B", b"\x1b$@"):
            jis, i = True, i + 3
        elif raw[i:i + 3] in (b"\x1b(B", b"\x1b(J"):
            jis, i = False, i + 3
        elif jis and raw[i] >= 0x21 and i + 1 < len(raw):
            j1, j2 = raw[i], raw[i + 1]
            s1 = ((j1 + 1) >> 1) + (0x70 if j1 <= 0x5E else 0xB0)
            s2 = j2 + (0x1F if j2 < 0x60 else 0x20) if j1 & 1 else j2 + 0x7E
            out += bytes([s1, s2])
            i += 2
        else:
            out.append(raw[i])
            i += 1
    return out.decode("cp932", errors="replace")


def decoded_words(value):
    """A header value with its encoded words decoded, ISO-2022-JP ones by iso2022jp_as_cp932."""
    return "".join(chunk if isinstance(chunk, str) else iso2022jp_as_cp932(chunk) if charset == "iso-2022-jp"
                   else chunk.decode(charset or "ascii", errors="replace")
                   for chunk, charset in email.header.decode_header(value))


class Message:
    """What Python reads from one encoded message."""

    def __init__(self, raw):
        self.msg = email.message_from_bytes(raw, policy=email.policy.default)
        self.raw = email.message_from_bytes(raw)  # header values as they stand
        self.body = self.html = self.body_part = self.html_part = None
        self.parts, self.rfc822_in_base64 = [], 0
        self.walk(self.msg)

    def walk(self, part):
        kind, name = part.get_content_type(), part.get_filename()
        if kind == "message/rfc822" and (part["content-transfer-encoding"] or "").lower() == "base64":
            # Python reads the part as an enclosed message without header: the Base64 lines are its body.
            self.rfc822_in_base64 += 1
            self.parts.append((name, base64.b64decode(part.get_payload()[0].get_payload())))
        elif part.is_multipart():
            for sub in part.get_payload():
                self.walk(sub)
        elif name is not None:
            self.parts.append((name, part.get_payload(decode=True)))
        elif kind == "text/html" and self.html is None:
            self.html, self.html_part = part.get_content(), part
        elif kind.startswith("text/") and self.body is None:
            self.body, self.body_part = part.get_content(), part

    def raw_header(self, name):
        """The header's encoded words decoded by their Shift_JIS row and cell, read as CP932."""
        value = self.raw.get(name)
        return "" if value is None else decoded_words(str(value))

    def header(self, name):
        value = self.msg[name]
        return "" if value is None else str(value)

    def addresses(self, name):
        value = self.msg[name]
        return [] if value is None else [a.addr_spec for a in value.addresses]


class Comparison(pycompare.Tally):
    def text(self, where, ours, theirs, part=None, tagged=False, raw_header=None, phrase=False):
        if ours == theirs:
            return
        if raw_header is not None:
            candidates = [("header-blanks", ours.strip(), theirs.strip())]
            if phrase:
                candidates.append(("python-word-blank", ours.replace(" ", ""), theirs.replace(" ", "")))
            candidates.append(("jis-mapping", ours.strip(), jis_mapped(theirs).strip()))
            raw = raw_header
            if phrase:
                raw = raw[:raw.rfind("<")] if "<" in raw else raw
                raw = raw.strip().strip('"')
            candidates.append(("cp932-extensions", ours.strip(), raw.strip()))
        else:
            if re.search("[\x0e\x0f\x1b]", ours):
                self.count("shift-functions-in-text")
                return
            candidates = [("boundary-line-end", trailing(ours), trailing(theirs))]
            if tagged:
                candidates.append(("pictogram-tags", trailing(tags(ours, True)), trailing(tags(theirs, False))))
            candidates.append(("jis-mapping", trailing(ours), trailing(jis_mapped(theirs))))
        if part is not None:
            raw = iso2022jp_as_cp932(part.get_payload(decode=True) or b"")
            if tagged:  # pictograms outside the tag table travel as their CP932 codes
                candidates.append(("cp932-extensions", trailing(tags(ours, True)),
                                   trailing(tags(tags(raw, False), True))))
            else:
                candidates.append(("cp932-extensions", trailing(ours), trailing(raw)))
        for name, a, b in candidates:
            if a == b:
                self.count(name)
                return
        self.fail("%s: ours %r, Python %r" % (where, ours[:160], theirs[:160]))

    def parts(self, where, ours, theirs):
        """Each of our parts (enclosures, then related files) against Python's (in message order)."""
        if len(ours) != len(theirs):
            self.fail("%s: %d parts, Python %d" % (where, len(ours), len(theirs)))
            return
        left = list(theirs)
        for mine in ours:
            data = pathlib.Path(mine["file"]).read_bytes()
            match = next((p for p in left if (p[1] or b"") == data and self.same_name(mine["name"], p[0])), None)
            if match is None:
                self.fail("%s: part %r not found in Python's parts %r" % (where, mine["name"], [p[0] for p in left]))
                return
            left.remove(match)

    def same_name(self, ours, theirs):
        if ours != theirs and ours == decoded_words(theirs):
            self.count("cp932-extensions")
            return True
        return ours == theirs

    def addresses(self, where, ours, theirs):
        ours = [a for a in ours if a]
        if ours == theirs:
            return
        if not ours and theirs == ["<>"]:
            self.count("empty-address")
        elif any(not PLAIN_ADDRESS.fullmatch(a) for a in ours):
            self.count("address-not-bare")
        else:
            self.fail("%s: ours %r, Python %r" % (where, ours, theirs))


def compare(tally, ours, theirs):
    where = ours["name"]
    tally.text(where + " subject", ours["subject"], theirs.header("subject"), raw_header=theirs.raw_header("subject"))
    from_addresses = theirs.addresses("from")
    tally.addresses(where + " from", [ours["from"]], from_addresses[:1])
    if from_addresses and ours["fromName"]:
        name = theirs.msg["from"].addresses[0].display_name
        tally.text(where + " from name", ours["fromName"].strip('"'), name.strip('"'),
                     raw_header=theirs.raw_header("from"), phrase=True)
    if theirs.rfc822_in_base64:
        tally.count("rfc822-in-base64")
    tally.addresses(where + " to", ours["to"], theirs.addresses("to"))
    tally.addresses(where + " cc", ours["cc"], theirs.addresses("cc"))
    tagged = theirs.body_part is not None and theirs.body_part.get_content_subtype() == "x-pmaildx"
    tally.text(where + " body", ours["body"], theirs.body or "", theirs.body_part, tagged)
    tally.text(where + " html", ours["html"], theirs.html or "", theirs.html_part)
    tally.parts(where, ours["parts"], theirs.parts)


def main():
    codepage, tool, _, files = pycompare.arguments(__doc__, "mail")
    tally = Comparison()
    with pycompare.run(tool, codepage, files, stdout=subprocess.DEVNULL) as out:
        numbers = sorted(int(n[:-5]) for n in os.listdir(out) if n.endswith(".json"))
        for number in numbers:
            ours = json.loads(pathlib.Path(out, f"{number}.json").read_text(encoding="utf-8"))
            theirs = Message(pathlib.Path(out, f"{number}.eml").read_bytes())
            before = len(tally.failures)
            compare(tally, ours, theirs)
            if len(tally.failures) > before:
                tally.failures[before] = f"{number} {tally.failures[before]}"
    return tally.report(f"{len(numbers)} encoded messages parsed by Python")


if __name__ == "__main__":
    sys.exit(main())
