#!/usr/bin/env python3
"""Compares every enclosure that GetEnclosure writes for the shared real-world messages with the
part Python's email package extracts from the same message, and the decoded texts.

usage: compare_with_python.py [--codepage 932|65001] CORPUS_EXTRACT TESTDATA_DIR

An enclosure matches a part of equal bytes, or of equal bytes once a rule of the codec is undone,
counted by name (under 65001 7bit-to-sjis is 7bit-to-utf8):
  line-ends        CR LF line ends up to the boundary (not base64 or uuencode); QP loses a final LF
  7bit-to-sjis     a 7bit part (not HTML) found to be JIS or EUC-JP is converted to Shift_JIS
  attached-message an attached message (or a message/external-body part) is written as it stands
  qp-bad-escape    "=" before two characters that are no hex escape is dropped, the two kept
  base64-padding   "=" inside Base64 is skipped, not taken as the end
  only-x-uuencode  only "x-uuencode" is uudecoded; others are written as text
  overlapping-boundaries  a part ends only at a whole line of its own level's boundary
  header-skips-non-field-lines  a header line that is no field is skipped (Python ends the header)
  last-field-wins  a repeated Content-Type or Content-Transfer-Encoding: the last counts
  unclosed-level-runs-to-end  a level whose boundary never comes again runs to the end of the text
  digest-part-as-text  a part without a header is text, also in a multipart/digest
The enclosures of a multipart message that Python does not split are counted, not compared. Texts
(subject, plain body, file names), under 65001 only (932 drops what it lacks): one that Python reads
cleanly must not hold more replacement characters (U+FFFD, U+30FB, U+3013) than Python's.
Exit status: 0 when everything matched, 1 otherwise, 77 when the test data is missing.
"""
import base64, binascii, collections, email, email.errors, email.policy, os, pathlib, re, sys  # noqa: E401

import pycompare

SYSTEM = {"codec": "cp932", "rule": "7bit-to-sjis"}  # the device code page's Python codec
MARKS = "\ufffd\u30fb\u3013"
FIELD_LINE = re.compile(rb"^([\x21-\x39\x3b-\x7e]+:|[ \t])")  # a field name and ":", or a continuation


def norm_lines(data):
    return data.replace(b"\r\n", b"\n").rstrip(b"\n")


def boundary_names(raw):
    return set(re.findall(rb'boundary="?([^";\r\n]+)', raw, re.I))


def codec_base64(data):
    """Base64 as the codec reads it: only alphabet characters count."""
    letters = re.sub(rb"[^A-Za-z0-9+/]", b"", data)
    usable = len(letters) - len(letters) % 4
    rest = letters[usable:]  # two or three letters left still give one or two bytes
    return base64.b64decode(letters[:usable]) + (base64.b64decode(rest + b"==") if len(rest) >= 2 else b"")


def codec_qp(data):
    """Quoted-printable as the codec reads it: "=" before two characters that are no escape is dropped."""
    def escape(m):
        s = m.group(1)
        if s[:1] == b"\n" or s == b"\r\n":
            return b""
        return bytes([int(s, 16)]) if re.fullmatch(rb"[0-9A-Fa-f]{2}", s) and s != b"00" else s
    return re.sub(rb"=(\n\r?|\r\n|..)", escape, data, flags=re.S)


def boundaries_overlap(raw):
    """Whether one boundary of the message is found inside a longer boundary line."""
    for name in boundary_names(raw):
        for m in re.finditer(re.escape(b"--" + name), raw):
            if m.start() > 0 and raw[m.start() - 1:m.start()] != b"\n":
                return True
            end = raw[m.end():m.end() + 2]
            if end not in (b"--", b"\r\n") and end[:1] not in (b"\n", b" ", b"\t", b""):
                return True
    return False


def without_non_field_lines(msg):
    """A message whose header Python ended at a line that is no field, without such header lines."""
    head = b"".join(f"{k}: {v}\n".encode("utf-8", "surrogateescape") for k, v in msg.raw_items())
    payload = msg._payload  # as read: get_payload() would replace bytes the charset does not know
    if not isinstance(payload, str):
        return None
    rest = payload.encode("utf-8", "surrogateescape").split(b"\n")  # non-ASCII bytes read as surrogates
    end = rest.index(b"") if b"" in rest else len(rest)
    kept = [line for line in rest[:end] if FIELD_LINE.match(line)]
    return head + b"".join(line + b"\n" for line in kept) + b"\n".join(rest[end:])


def last_fields_only(raw):
    """The message with only the last of a repeated Content-Type or -Transfer-Encoding, or None."""
    text = raw.replace(b"\r\n", b"\n")
    end = text.find(b"\n\n")
    if end < 0:
        return None
    fields = []
    for line in text[:end + 1].split(b"\n")[:-1]:
        if fields and line[:1] in (b" ", b"\t"):
            fields[-1] += b"\n" + line
        else:
            fields.append(line)
    names = [f.split(b":", 1)[0].strip().lower() if b":" in f else None for f in fields]
    repeated = {n for n in (b"content-type", b"content-transfer-encoding") if names.count(n) > 1}
    if not repeated:
        return None
    kept = [f for i, f in enumerate(fields) if names[i] not in repeated or names[i] not in names[i + 1:]]
    return b"".join(f + b"\n" for f in kept) + text[end + 1:]


def python_parts(raw, via=None):
    """(content type, decoded bytes, raw payload, rule) of every leaf part and attached message;
    the rule names the re-reading the codec's way that gave the part (None: Python's own)."""
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    parts, rereadings = [], []  # re-readings after Python's own parts, so that those are matched first
    if via is None and (reread := last_fields_only(raw)) is not None:
        rereadings += python_parts(reread, "last-field-wins")
    for part in msg.walk():
        ctype = part.get_content_type()
        if any(isinstance(d, email.errors.MissingHeaderBodySeparatorDefect) for d in part.defects):
            if (reread := without_non_field_lines(part)) is not None:
                rereadings += python_parts(reread, via or "header-skips-non-field-lines")
        if ctype == "message/rfc822":
            inner = part.get_payload()
            if isinstance(inner, list) and inner:
                parts.append((ctype, inner[0].as_bytes(), None, via))
            continue
        if part.is_multipart():
            continue
        try:
            decoded = part.get_payload(decode=True)
        except Exception:  # the oracle gave up on this part
            decoded = None
        payload = part.get_payload(decode=False)
        if decoded is not None:
            raw_payload = payload.encode("latin-1", "replace") if isinstance(payload, str) else None
            parts.append((ctype, decoded, raw_payload, via))
    return parts + rereadings


def rule_match(ours, encoding, cand):
    _, pbytes, praw, _ = cand
    if encoding not in ("base64", "x-uuencode") and norm_lines(ours) == norm_lines(pbytes):
        return "line-ends"
    if encoding == "7bit":
        sources = ("iso2022_jp",) if SYSTEM["codec"] == "cp932" else ("iso2022_jp", "euc_jp", "cp932")
        for source in sources:
            try:
                if norm_lines(ours) == norm_lines(pbytes.decode(source).encode(SYSTEM["codec"])):
                    return SYSTEM["rule"]
            except (UnicodeDecodeError, UnicodeEncodeError):
                pass
    if encoding == "base64" and praw is not None and codec_base64(praw) == ours:
        return "base64-padding"
    if encoding == "quoted-printable" and praw is not None and \
            norm_lines(codec_qp(praw.replace(b"\r\n", b"\n"))) == norm_lines(ours):
        return "qp-bad-escape"
    if encoding not in ("x-uuencode", "base64") and b"begin " in ours:
        try:
            lines = norm_lines(ours).split(b"\n")
            start = next(i for i, l in enumerate(lines) if l.startswith(b"begin "))
            if b"".join(binascii.a2b_uu(l) for l in lines[start + 1:] if l not in (b"", b"end", b"`")) == pbytes:
                return "only-x-uuencode"
        except (StopIteration, binascii.Error):
            pass
    return None


def attached_rule(ours, encoding, flat_raw):
    """The rule under which an attached message is a piece of the message text, or None."""
    if norm_lines(ours) in flat_raw:
        return "attached-message"
    if encoding == "7bit":
        text = norm_lines(ours).decode(SYSTEM["codec"], "replace")
        for charset in ("euc_jp", "iso2022_jp", "cp932"):
            try:
                if text.encode(charset) in flat_raw:
                    return SYSTEM["rule"]
            except UnicodeEncodeError:
                pass
    return None


def text_rule(ours, raw, flat_raw, candidates):
    """The boundary rule under which an enclosure is a piece of the message text, or None."""
    piece = norm_lines(ours)
    if not piece:
        return None
    for name in boundary_names(raw):
        line = re.escape(b"--" + name)
        if b"multipart/digest" in raw.lower() and \
                re.search(rb"(^|\n)" + line + rb"\n\n" + re.escape(piece) + rb"\n+" + line, flat_raw):
            return "digest-part-as-text"
    if norm_lines(flat_raw).endswith(piece) and any(c[1] and piece.startswith(norm_lines(c[1])) for c in candidates):
        return "unclosed-level-runs-to-end"
    return None


def explain(ours, encoding, ctype, raw, candidates, used):
    """(rule, index of the part of Python it matched or None) for one enclosure; the rule is None
    when nothing explains it. Parts in `used` are taken already."""
    flat_raw = raw.replace(b"\r\n", b"\n")
    if ctype == "message/rfc822" or b"message/external-body" in raw.lower():
        if rule := attached_rule(ours, encoding, flat_raw):
            return rule, None
    free = [(i, c) for i, c in enumerate(candidates) if i not in used]
    match = next((i for i, c in free if c[1] == ours), None)
    if match is not None:
        return candidates[match][3] or "equal", match
    for i, c in free:
        if rule := rule_match(ours, encoding, c):
            return c[3] or rule, i  # found only by re-reading: that is the reason
    rule = text_rule(ours, raw, flat_raw, candidates)
    return rule or ("overlapping-boundaries" if boundaries_overlap(raw) else None), None


def compare_enclosures(path, enclosures, tally):
    raw = pathlib.Path(path).read_bytes()
    candidates = python_parts(raw)
    if any(c[0].startswith("multipart/") and c[3] is None for c in candidates):
        tally.counts["not split by Python"] += len(enclosures)
        return
    used = set()
    for index, encoding, ctype, written in enclosures:
        if not written:
            tally.count("not written (uuencoded without a begin line)")
            continue
        ours = pathlib.Path(written).read_bytes()
        rule, match = explain(ours, encoding, ctype, raw, candidates, used)
        used.add(match)
        if rule:
            tally.count(rule)
        else:
            tally.fail(f"{path}: enclosure {index} ({ctype}, {encoding or 'no encoding'}, {len(ours)} bytes) "
                       "matches no part Python extracts")


def python_texts(raw):
    """Python's subject, plain body and file names; None where it cannot give one."""
    try:
        msg = email.message_from_bytes(raw, policy=email.policy.default)
    except Exception:
        return None, None, None

    def attempt(get):
        try:
            return get()
        except Exception:
            return None

    def subject():
        header = msg["subject"]
        if header is None:
            return ""
        raw_value = next((str(v) for k, v in msg.raw_items() if k.lower() == "subject"), "")
        # An encoded word Python could not decode comes back as its encoded text.
        return None if header.defects or (str(header) and "?" + str(header) + "?=" in raw_value) else str(header)

    def body():
        part = msg.get_body(preferencelist=("plain",))
        return part.get_content() if part is not None else ""
    names = attempt(lambda: [str(p.get_filename()) for p in msg.walk() if p.get_filename()])
    return attempt(subject), attempt(body), names


def text_kind(ours, theirs):
    """How our text compares with Python's: a count name, "replaced" when ours lost a character."""
    # Python did not read it: a replacement, undecodable bytes, ISO-2022-JP left raw.
    if theirs is None or "\ufffd" in theirs or "\x1b" in theirs or any("\ud800" <= c <= "\udfff" for c in theirs):
        return "python-unreadable"
    if any(ours.count(m) > theirs.count(m) for m in MARKS):
        return "replaced"

    def norm(t):
        return "\n".join(line.rstrip() for line in t.replace("\r\n", "\n").split("\n")).strip()
    # Other differences (another part taken as the body, names the codec makes up, attached
    # messages' texts appended to the body) are counted, not failed.
    return "equal" if norm(ours) == norm(theirs) else "differs"


def compare_texts(ours_file, path, tally):
    fields = pathlib.Path(ours_file).read_bytes().decode("utf-8", "replace").split("\0")[:-1]
    subject, body, names = python_texts(pathlib.Path(path).read_bytes())
    texts = [("subject", fields[0], subject), ("body", fields[1], body)]
    if fields[2:]:
        texts.append(("file names", "\n".join(sorted(fields[2:])), None if names is None else "\n".join(names)))
    for field, ours, theirs in texts:
        kind = text_kind(ours, theirs)
        tally.count(f"{field} {kind}")
        if kind == "replaced":
            tally.fail(f"{path}: {field} has a character replaced: {ours[:120]!r} where Python reads {theirs[:120]!r}")


def main():
    codepage, tool, _, files = pycompare.arguments(__doc__, "mail")
    if codepage == "65001":
        SYSTEM.update(codec="utf-8", rule="7bit-to-utf8")
    enclosures, texts = pycompare.Tally("equal"), pycompare.Tally()
    with pycompare.run(tool, codepage, files) as out:
        by_message = collections.defaultdict(list)
        for line in pathlib.Path(out, "manifest.tsv").read_text(encoding="utf-8", errors="replace").split("\n")[:-1]:
            _, path, index, encoding, ctype, _, written = line.split("\t")
            by_message[path].append((index, encoding, ctype, written))
        for path, listed in by_message.items():
            compare_enclosures(path, listed, enclosures)
        status = enclosures.report(f"{len(files)} messages, enclosures against Python")
        if codepage == "65001":
            for number, path in enumerate(files):
                compare_texts(os.path.join(out, "texts", str(number)), path, texts)
            status = max(status, texts.report("texts (code page 65001)"))
    return status


if __name__ == "__main__":
    sys.exit(main())
