#!/usr/bin/env python3
"""Checks of the named rules of compare_feeds_with_python.py: each accepts the difference it
names and nothing next to it."""
import os
import sys
import unittest
from types import SimpleNamespace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_feeds_with_python as cmp  # noqa: E402

ABSENT = cmp.ABSENT


class ValueRuleTest(unittest.TestCase):
    def test_each_rule_takes_only_its_case(self):
        raw = ("<rss><channel><dc:title>From DC</dc:title><item><guid>http://g/1</guid>"
               "<enclosure url=\"http://e/1?a=1&amp;b=2\"/><media:title><![CDATA[A & B]]></media:title>"
               "</item></channel></rss>")
        cases = [
            ("\n  Title \t", "Title", "whitespace"),
            ("Title", "Other", None),
            (ABSENT, "", "empty-is-absent"),
            ("", "", "whitespace"),
            (ABSENT, "http://g/1", "taken-from-another-element"),
            (ABSENT, "http://g/2", None),
            (ABSENT, "http://g/", None),
            (ABSENT, "http://e/1?a=1&b=2", "taken-from-another-element"),
            (ABSENT, "rss", None),
            ("Ours", "From DC", "other-namespace-wins"),
            ("Ours", "A & B", "other-namespace-wins"),
            ("Ours", "From", None),
            ("Ours", "http://g/1", None),
        ]
        for ours, theirs, rule in cases:
            with self.subTest(ours=ours, theirs=theirs):
                self.assertEqual(cmp.value_rule(ours, theirs, raw), rule)

    def test_unescape_reads_what_feed_dump_writes(self):
        self.assertIs(cmp.unescape("\\0"), ABSENT)
        self.assertEqual(cmp.unescape("a\\tb\\\\n\\n\\r"), "a\tb\\n\n\r")


class FailureRuleTest(unittest.TestCase):
    def test_each_refusal_is_named_by_its_record(self):
        bozo = SimpleNamespace(bozo=1)
        clean = SimpleNamespace(bozo=0)
        cases = [
            (3, "defaultStartElement: version error", clean, b"<feed/>", "root-of-no-dialect"),
            (4, "characters (parse error): value outside its set", clean, b"<rss/>", "enumerated-value-refused"),
            (3, "fatalError: Entity 'eacute' not defined", clean, b"<rss/>", "entity-not-read"),
            (3, "fatalError: PEReference: %HTMLlat1; not found", clean, b"<rss/>", "entity-not-read"),
            (3, "fatalError: Unsupported encoding bogus", clean, b"<?xml?>", "encoding-not-read"),
            (2, "fatalError: switching encoding: encoder error", clean, b"<\x00\x00\x00?", "encoding-not-read"),
            (3, "fatalError: Extra content at the end of the document", bozo, b"<rss/>", "not-well-formed"),
            # Refused where feedparser finds nothing wrong: no rule.
            (3, "fatalError: Extra content at the end of the document", clean, b"<rss/>", None),
            (2, "characters (parse error): text of one element over 1 MB", bozo, b"<rss/>", None),
            (3, "startElement (namespace error): no namespace matched", bozo, b"<rss/>", None),
        ]
        for code, error, parsed, raw, rule in cases:
            with self.subTest(error=error, bozo=parsed.bozo):
                doc = {"code": code, "error": error}
                self.assertEqual(cmp.failure_rule(doc, parsed, raw), rule)


if __name__ == "__main__":
    unittest.main()
