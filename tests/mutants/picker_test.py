#!/usr/bin/env python3
"""The site picker and the mutation operators of scripts/mutants.py on a small C++ file: which
bytes are code, what each operator writes, and that a seed always picks the same sites."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import mutants  # noqa: E402

SNIPPET = r'''#include <vector>
#define LIMIT(a) ((a) > 2 ? f(3) : 4)
// if (a < b) x = 1;
/* y == 2;
   z = OXMDL_ERR_NONE; */
namespace n {
constexpr int kMax = 0x1F;
struct S { int a{7}; };
int f(std::vector<int>& v, const char* s, int a) {
  const char* t = "if (a < 5) g(\"x == 1\");";
  const char* r = R"x(a)" < 1;)x";
  char c = '<';
  int k = static_cast<int>(v.size());
  if (a <= k) v.push_back(a);
  k += 1'000;
  while (k != 0) --k;
  return s == t ? OXMDL_ERR_STG_A : OXMDL_ERR_NONE;
}
}
'''
FAMILIES = {"STG": ["OXMDL_ERR_STG_A", "OXMDL_ERR_STG_B"], "OXMDL_ERR_NONE": ["OXMDL_ERR_NONE"]}


def sites():
    return mutants.FileSites("x.cpp", SNIPPET, FAMILIES).sites()


class PickerTest(unittest.TestCase):
    def test_sites_are_code_only_with_their_replacements(self):
        got = [(s.line, s.kind, s.original, s.replacements) for s in sites()]
        self.assertEqual(got, [
            (7, "constant", "0x1F", ("0x20", "0x1E")),
            (8, "constant", "7", ("8", "6")),
            (14, "condition", "a <= k", ("!(a <= k)",)),
            (14, "comparison", "<=", (">",)),
            (14, "statement", "v.push_back(a);", (";",)),
            (15, "statement", "k += 1'000;", (";",)),
            (15, "constant", "1'000", ("1001", "999")),
            (16, "condition", "k != 0", ("!(k != 0)",)),
            (16, "comparison", "!=", ("==",)),
            (16, "constant", "0", ("1",)),
            (16, "statement", "--k;", (";",)),
            (17, "comparison", "==", ("!=",)),
            (17, "errorcode", "OXMDL_ERR_STG_A", ("OXMDL_ERR_STG_B",)),
            (17, "errorcode", "OXMDL_ERR_NONE", ("OXMDL_ERR_STG_A", "OXMDL_ERR_STG_B")),
        ])

    def test_each_operator_rewrites_only_its_site(self):
        by_kind = {s.kind: s for s in reversed(sites())}  # the first site of each kind
        expected = {
            "constant": "constexpr int kMax = 0x20;",
            "condition": "  if (!(a <= k)) v.push_back(a);",
            "comparison": "  if (a > k) v.push_back(a);",
            "statement": "  if (a <= k) ;",
            "errorcode": "  return s == t ? OXMDL_ERR_STG_B : OXMDL_ERR_NONE;",
        }
        for kind, line in expected.items():
            site = by_kind[kind]
            lines = mutants.mutate(SNIPPET, site, site.replacements[0]).split("\n")
            self.assertEqual(lines[site.line - 1], line, kind)
            self.assertEqual(site.mutated_line(SNIPPET, site.replacements[0]), line.strip(), kind)
            lines[site.line - 1] = SNIPPET.split("\n")[site.line - 1]  # and nothing else
            self.assertEqual("\n".join(lines), SNIPPET, kind)

    def test_a_seed_picks_the_same_sites_every_time(self):
        all_sites = sites()
        first = mutants.pick(all_sites, 6, 3)
        self.assertEqual(first, mutants.pick(all_sites, 6, 3))
        self.assertNotEqual(first, mutants.pick(all_sites, 6, 4))
        self.assertEqual(len({(s.start, s.kind) for s, _ in first}), 6)
        self.assertEqual(len(mutants.pick(all_sites, 100, 3)), len(all_sites))


class CopyTest(unittest.TestCase):
    def test_copy_rewrites_what_differs_and_keeps_its_build(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as copy:
            for name, text in (("a.cpp", "a"), ("sub/b.cpp", "b")):
                os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
                with open(os.path.join(root, name), "w") as f:
                    f.write(text)
            os.makedirs(os.path.join(copy, "build"))
            open(os.path.join(copy, "build", "keep.o"), "w").close()
            open(os.path.join(copy, "stale.cpp"), "w").close()
            self.assertEqual(mutants.sync_copy(root, copy), 2)
            self.assertEqual(mutants.sync_copy(root, copy), 0)
            with open(os.path.join(copy, "a.cpp"), "w") as f:
                f.write("a mutant left behind")
            self.assertEqual(mutants.sync_copy(root, copy), 1)
            with open(os.path.join(copy, "a.cpp")) as f:
                self.assertEqual(f.read(), "a")
            self.assertFalse(os.path.exists(os.path.join(copy, "stale.cpp")))
            self.assertTrue(os.path.exists(os.path.join(copy, "build", "keep.o")))


if __name__ == "__main__":
    unittest.main()
