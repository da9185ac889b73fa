#!/usr/bin/env python3
"""Checks of the named rules of compare_with_python.py on small messages: each rule accepts the
bytes the codec writes for the case it names, and refuses them once a byte is lost or added."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_with_python as cmp  # noqa: E402


def rule_of(ours, raw, encoding=""):
    flat = raw.replace(b"\r\n", b"\n")
    return cmp.text_rule(ours, raw, flat, cmp.python_parts(raw))


class RereadingTest(unittest.TestCase):
    def test_non_field_line_in_header_is_skipped(self):
        raw = (b">From - Fri Dec 13 1996\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
               b"Content-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n\n"
               b"AP4B\n--b--\n")
        parts = cmp.python_parts(raw)
        self.assertEqual([(p[0], p[3]) for p in parts if p[3] is None], [("text/plain", None)])
        self.assertIn((b"\x00\xfe\x01", "header-skips-non-field-lines"), [(p[1], p[3]) for p in parts])

    def test_non_field_line_keeps_bytes_outside_ascii(self):
        raw = (b"Fro :x\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/html\n\n"
               b"<p>\xfe</p>\n--b--\n")
        reread = [p[1] for p in cmp.python_parts(raw) if p[3] == "header-skips-non-field-lines"]
        self.assertIn(b"<p>\xfe</p>", reread)

    def test_last_field_wins_keeps_only_the_last_repeat(self):
        raw = (b"Subject: s\nContent-Type: text/plain\nX-A: 1\nContent-Type: multipart/mixed;\n boundary=b\n\n"
               b"--b\nContent-Type: text/plain; name=t.txt\nContent-Transfer-Encoding: base64\n\naGk=\n--b--\n")
        self.assertEqual(cmp.last_fields_only(raw).split(b"\n\n")[0],
                         b"Subject: s\nX-A: 1\nContent-Type: multipart/mixed;\n boundary=b")
        self.assertIn((b"hi", "last-field-wins"), [(p[1], p[3]) for p in cmp.python_parts(raw)])
        self.assertIsNone(cmp.last_fields_only(b"Content-Type: text/plain\nSubject: s\n\nbody\n"))


class TextRuleTest(unittest.TestCase):
    def test_digest_part_without_header_is_text_as_it_stands(self):
        raw = (b'Content-Type: multipart/digest; boundary="d"\n\n--d\n\nFrom: a@b\nSubject: one two three four five'
               b" six seven eight nine ten eleven twelve\n\nbody\n--d--\n")
        ours = b"From: a@b\r\nSubject: one two three four five six seven eight nine ten eleven twelve\r\n\r\nbody\r\n"
        self.assertEqual(rule_of(ours, raw), "digest-part-as-text")
        self.assertIsNone(rule_of(ours.replace(b"body", b"bod"), raw))
        self.assertIsNone(rule_of(ours, raw.replace(b"multipart/digest", b"multipart/mixed")))

    def test_unclosed_level_runs_to_the_end_of_the_text(self):
        raw = (b'Content-Type: multipart/mixed; boundary="1"\n\n--1\nContent-Type: multipart/mixed; boundary="2"\n\n'
               b"--2\nContent-Type: text/plain\n\n1\n--2\nContent-Type: text/plain\n\n22\n--1\n"
               b"Content-Type: text/plain\n\n333\n")
        ours = b"22\r\n--1\r\nContent-Type: text/plain\r\n\r\n333\r\n"
        self.assertEqual(rule_of(ours, raw), "unclosed-level-runs-to-end")
        self.assertIsNone(rule_of(ours.replace(b"333", b"33"), raw))
        self.assertIsNone(rule_of(b"2\r\n--1\r\nContent-Type: text/plain\r\n\r\n333\r\n", raw))


class AttachedRuleTest(unittest.TestCase):
    def test_seven_bit_attached_message_converted_from_euc_jp(self):
        flat = b"--b\nContent-Type: message/rfc822\n\nSubject: x\n\nC:\xc2\xa5win\n--b--\n"
        ours = b"Subject: x\r\n\r\nC:\x91\xa3win\r\n"
        self.assertEqual(cmp.attached_rule(ours, "7bit", flat), "7bit-to-sjis")
        self.assertIsNone(cmp.attached_rule(ours, "8bit", flat))
        self.assertIsNone(cmp.attached_rule(b"Subject: x\r\n\r\nC:\x91\xa4win\r\n", "7bit", flat))
        self.assertEqual(cmp.attached_rule(b"Subject: x\r\n", "8bit", flat), "attached-message")


class TextKindTest(unittest.TestCase):
    def test_a_replaced_character_is_found_only_where_python_reads_the_text(self):
        self.assertEqual(cmp.text_kind("hei\ufffde", "hei\u00dfe"), "replaced")
        self.assertEqual(cmp.text_kind("\u65e5\u30fb", "\u65e5\u672c"), "replaced")
        self.assertEqual(cmp.text_kind("\u30fb\u65e5", "\u30fb\u65e5"), "equal")  # a real middle dot
        self.assertEqual(cmp.text_kind("hei\ufffde", "hei\ufffde"), "python-unreadable")
        self.assertEqual(cmp.text_kind("a\ufffd", "a\udcff"), "python-unreadable")
        self.assertEqual(cmp.text_kind("x\u30fb", "\x1b$B%$\x1b(B"), "python-unreadable")
        self.assertEqual(cmp.text_kind("a\r\nb  \r\n", "a\nb\n"), "equal")
        self.assertEqual(cmp.text_kind("a b", "ab"), "blanks")
        self.assertEqual(cmp.text_kind("a", "b"), "differs")


if __name__ == "__main__":
    unittest.main()
