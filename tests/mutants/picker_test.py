#!/usr/bin/env python3
"""scripts/mutants.py: which bytes are sites, what each operator writes, the sample a seed picks."""

import os
import sys
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

    def test_a_mutant_rewrites_only_its_site(self):
        site = next(s for s in sites() if s.kind == "condition")
        lines = SNIPPET.split("\n")
        lines[site.line - 1] = "  if (!(a <= k)) v.push_back(a);"
        self.assertEqual(mutants.mutate(SNIPPET, site, site.replacements[0]), "\n".join(lines))

    def test_a_seed_always_picks_the_same_sample(self):
        all_sites = sites()
        got = [(s.line, s.original, r) for s, r in mutants.pick(all_sites, 4, 1)]
        self.assertEqual(got, [(16, "k != 0", "!(k != 0)"), (17, "OXMDL_ERR_NONE", "OXMDL_ERR_STG_B"),
                               (7, "0x1F", "0x1E"), (16, "--k;", ";")])
        self.assertEqual(len(mutants.pick(all_sites, 100, 1)), len(all_sites))


if __name__ == "__main__":
    unittest.main()
