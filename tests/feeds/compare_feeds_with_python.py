#!/usr/bin/env python3
"""Compares what the RSS parser reads from every shared real-world feed (feed_dump's lines) with
what Python's feedparser reads from the same bytes: the first channel's title, its item count, and
every item's title and link. A difference that one of the parser's rules explains (value_rule,
failure_rule) is counted under the rule's name; any other fails.

usage: compare_feeds_with_python.py FEED_DUMP TESTDATA_DIR
Exit status: 0 when every value matched, 1 otherwise, 77 without the test data or feedparser.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus"))
import pycompare  # noqa: E402

try:
    import feedparser
except ImportError:
    feedparser = None

ABSENT = object()


def unescape(field):
    unescaped = re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), field)
    return ABSENT if field == "\\0" else unescaped


def read_dump(tool, files):
    """{file: {"code", "dialect", "error", "title", "count", "items"}} from feed_dump's lines."""
    text = subprocess.run([tool] + files, check=True, capture_output=True).stdout.decode("utf-8")
    docs = {}
    for line in filter(None, text.split("\n")):
        kind, *fields = line.split("\t")
        if kind == "F":
            doc = docs[fields[0]] = {"code": int(fields[1]), "dialect": int(fields[2]), "error": unescape(fields[3]),
                                     "title": None, "count": 0, "items": []}
        elif kind == "C":
            doc["title"], doc["count"] = unescape(fields[0]), int(fields[1])
        elif kind == "I":
            doc["items"].append((unescape(fields[0]), unescape(fields[1])))
    return docs


def stands_in(value, raw_text, element=r"[\w:]+"):
    """Whether the value, as it is or XML-escaped, is the whole text of an element or attribute of the file."""
    escaped = value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    for form in {value, escaped, escaped.replace('"', "&quot;")}:
        text = r"\s*(<!\[CDATA\[)?\s*" + re.escape(form) + r"\s*(\]\]>)?\s*"
        if re.search(r"<" + element + r"(\s[^>]*)?>" + text + r"</", raw_text):
            return True
        if element == r"[\w:]+" and re.search(r"=[\"']" + re.escape(form) + r"[\"']", raw_text):
            return True
    return False


def value_rule(ours, theirs, raw_text):
    """The rule under which a title or link of ours differs from feedparser's, or None: we keep
    whitespace, an empty element is absent, feedparser takes a missing value from another element,
    and it reads titles of namespaces the dialect skips."""
    if ours is not ABSENT and theirs is not None and ours.strip() == theirs.strip():
        return "whitespace"
    if ours is ABSENT and theirs == "":
        return "empty-is-absent"
    if ours is ABSENT and theirs and stands_in(theirs, raw_text):
        return "taken-from-another-element"
    if theirs and stands_in(theirs, raw_text, r"\w+:title"):
        return "other-namespace-wins"
    return None


def failure_rule(doc, parsed, raw):
    """The rule under which the parser refused a document that feedparser reads (code 3, 4 or 2), or None."""
    error = doc["error"]
    if doc["code"] == 3 and error.startswith("defaultStartElement: version error"):
        return "root-of-no-dialect"
    if doc["code"] == 4:
        return "enumerated-value-refused"
    if doc["code"] == 3 and re.match(r"fatalError: (PEReference: %\w+; not found|Entity '\w+' not defined)", error):
        return "entity-not-read"
    utf32 = raw[:4] in (b"\x00\x00\xfe\xff", b"\xff\xfe\x00\x00") or raw[:4] in (b"\x00\x00\x00<", b"<\x00\x00\x00")
    if doc["code"] in (2, 3) and (utf32 or error.startswith("fatalError: Unsupported encoding")):
        return "encoding-not-read"
    if doc["code"] == 3 and parsed.bozo and error.startswith("fatalError"):
        return "not-well-formed"
    return None


def compare_feed(name, doc, raw, tally):
    parsed = feedparser.parse(raw)
    raw_text = raw.decode("utf-8", "replace")

    def value(what, ours, theirs):
        if (ours is not ABSENT and ours == theirs) or (ours is ABSENT and theirs is None):
            tally.count("equal")
        elif rule := value_rule(ours, theirs, raw_text):
            tally.count(rule)
        else:
            tally.fail(f"{name}: {what}: ours {'absent' if ours is ABSENT else repr(ours)}, feedparser {theirs!r}")

    atom = parsed.version.startswith("atom")
    if doc["code"] != 0 or atom:
        rule = failure_rule(doc, parsed, raw)
        if atom:
            rule = "atom-refused" if rule == "root-of-no-dialect" else None
        tally.count(rule) if rule else tally.fail(f"{name}: code {doc['code']} ({doc['error']}); "
                                                  f"feedparser {parsed.version or 'no version'}, bozo {parsed.bozo}")
    elif doc["dialect"] == 0:
        tally.count("version-without-handler")
    elif doc["title"] is None:
        read = parsed.entries or parsed.feed.get("title")
        tally.fail(f"{name}: no channel; feedparser {len(parsed.entries)} items") if read else tally.count("equal")
    else:
        value("channel title", doc["title"], parsed.feed.get("title"))
        if doc["count"] != len(parsed.entries):
            tally.fail(f"{name}: {doc['count']} items, feedparser {len(parsed.entries)}")
            return
        tally.count("equal")
        for n, ((title, link), entry) in enumerate(zip(doc["items"], parsed.entries), 1):
            value(f"item {n} title", title, entry.get("title"))
            value(f"item {n} link", link, entry.get("link"))


def main():
    _, tool, root, files = pycompare.arguments(__doc__, "feeds", codepages=False)
    if feedparser is None:
        pycompare.skip("Python's feedparser is not installed (python3-feedparser)")
    docs = read_dump(tool, files)
    tally = pycompare.Tally()
    for path in files:
        with open(path, "rb") as f:
            compare_feed(os.path.relpath(path, root), docs[path], f.read(), tally)
    return tally.report(f"{len(files)} feeds, {sum(tally.counts.values())} values compared with feedparser")

if __name__ == "__main__":
    sys.exit(main())
