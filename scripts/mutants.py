#!/usr/bin/env python3
"""A mutation sample of the library: picks N sites at random (seeded) in the library's C++
sources, and for each one applies a single mutation to a copy of the tree, rebuilds it
incrementally, runs the unit and crash tests and records whether a test noticed.

The working tree is never touched: its files are copied into WORKDIR/src (only the files that
changed since the last run are rewritten, so the build in WORKDIR/src/build stays incremental),
and every mutant is undone in the copy before the next one.

Kinds of mutation:
  comparison  a comparison negated: < to >=, <= to >, > to <=, >= to <, == to !=, != to ==
  constant    an integer constant off by one (0 becomes 1, others +1 or -1)
  condition   the condition of an if or while negated: if (c) to if (!(c))
  statement   an expression statement removed (calls, assignments, increments): x = f(); to ;
  errorcode   an OXMDL_ERR_* name replaced by another of its family (STG, MIME, ...)

A mutant is "killed" when a test fails or the run exceeds the time limit, "survived" when
every test passes, "no build" when the mutated tree does not compile. The tests of the mutated
file's own folder (tests/<folder>) run first and stop at the first failure; the others run
only when those all pass.
"""

import argparse
import bisect
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass

LIBRARY_FOLDERS = ("platform", "frame", "store", "accounts", "codec", "transport", "feeds")
KINDS = ("comparison", "constant", "condition", "statement", "errorcode")

# ---------------------------------------------------------------------------------------------
# Lexer: just enough C++ to know which bytes are code. Comments, string and character literals
# and preprocessor lines produce no tokens, so nothing in them is ever mutated.

@dataclass
class Token:
    kind: str   # "ident", "number", "punct", "literal"
    text: str
    start: int
    end: int


PUNCTUATORS = sorted("""<=> <<= >>= ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^=
.* ## { } [ ] ( ) ; : , . ? ~ ! + - * / % ^ & | = < > #""".split(), key=len, reverse=True)
LITERAL_PREFIXES = {"L", "u", "U", "u8", "R", "LR", "uR", "UR", "u8R"}
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
NUMBER_RE = re.compile(r"\.?[0-9](?:[eEpP][+-]|'[0-9A-Za-z_]|[0-9A-Za-z_.])*")


def tokenize(src):
    tokens = []
    i, n = 0, len(src)
    line_start = True  # only whitespace since the last newline: a '#' here starts a directive
    while i < n:
        c = src[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if src.startswith("//", i):
            i = _end_of_line(src, i)
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        if c == "#" and line_start:
            i = _end_of_directive(src, i)
            continue
        line_start = False
        m = IDENT_RE.match(src, i)
        if m:
            word = m.group()
            j = m.end()
            if word in LITERAL_PREFIXES and j < n and src[j] in "\"'":
                end = _end_of_literal(src, j, raw=word.endswith("R") and src[j] == '"')
                tokens.append(Token("literal", src[i:end], i, end))
                i = end
                continue
            tokens.append(Token("ident", word, i, j))
            i = j
            continue
        m = NUMBER_RE.match(src, i)
        if m:
            tokens.append(Token("number", m.group(), i, m.end()))
            i = m.end()
            continue
        if c in "\"'":
            end = _end_of_literal(src, i, raw=False)
            tokens.append(Token("literal", src[i:end], i, end))
            i = end
            continue
        for p in PUNCTUATORS:
            if src.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p)))
                i += len(p)
                break
        else:
            i += 1  # a byte outside C++'s character set (in code that compiles: none)
    return tokens


def _end_of_line(src, i):
    j = src.find("\n", i)
    return len(src) if j < 0 else j


def _end_of_directive(src, i):
    # A directive runs to the first newline not escaped by a backslash; comments inside it
    # may span lines.
    n = len(src)
    while i < n:
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            i = n if j < 0 else j + 2
        elif src.startswith("//", i):
            return _end_of_line(src, i)
        elif src[i] == "\\" and src.startswith("\n", i + 1):
            i += 2
        elif src.startswith("\\\r\n", i):
            i += 3
        elif src[i] == "\n":
            return i
        else:
            i += 1
    return n


def _end_of_literal(src, i, raw):
    quote = src[i]
    if raw:  # R"delim( ... )delim"
        open_paren = src.find("(", i)
        close = ")" + src[i + 1:open_paren] + '"'
        j = src.find(close, open_paren)
        return len(src) if j < 0 else j + len(close)
    j = i + 1
    while j < len(src) and src[j] != quote and src[j] != "\n":
        j += 2 if src[j] == "\\" else 1
    return min(j + 1, len(src))


# ---------------------------------------------------------------------------------------------
# Sites.

@dataclass
class Site:
    path: str        # relative to the tree's root
    line: int
    start: int       # byte span replaced in the file
    end: int
    kind: str
    original: str
    replacements: tuple
    line_start: int = 0  # where the site's first line begins, for showing it mutated

    def mutated_line(self, src, replacement):
        """The site's first line with the mutation applied."""
        text = mutate(src, self, replacement)
        end = text.find("\n", self.line_start)
        return text[self.line_start:end if end >= 0 else len(text)].strip()

    def describe(self, replacement):
        return "%s:%d %s: %s -> %s" % (self.path, self.line, self.kind,
                                       _short(self.original), _short(replacement))


def _short(text, width=70):
    text = " ".join(text.split())
    return text if len(text) <= width else text[:width - 3] + "..."


KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t
char16_t char32_t class co_await co_return co_yield compl concept const consteval constexpr
constinit const_cast continue decltype default delete do double dynamic_cast else enum explicit
export extern false float for friend goto if inline int long mutable namespace new noexcept not
not_eq nullptr operator or or_eq private protected public register reinterpret_cast requires
return short signed sizeof static static_assert static_cast struct switch template this
thread_local throw true try typedef typeid typename union unsigned using virtual void volatile
wchar_t while xor xor_eq""".split())
NEGATED = {"<": ">=", "<=": ">", ">": "<=", ">=": "<", "==": "!=", "!=": "=="}
ASSIGNMENTS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
# What may follow the name an expression statement starts with.
STATEMENT_FOLLOWERS = ASSIGNMENTS | {"(", ".", "->", "[", "++", "--", "<<"}
# Braces after these open a block of statements; after anything else (an identifier, "=",
# "return", ",", "(") they hold a class, a namespace or an initializer.
TEMPLATE_WORDS = {"template", "static_cast", "reinterpret_cast", "const_cast", "dynamic_cast"}
BLOCK_OPENERS = {")", "]", "else", "do", "try", "const", "noexcept", "override", "mutable"}


class FileSites:
    """Finds the mutation sites of one file's tokens."""

    def __init__(self, path, src, error_families):
        self.path = path
        self.src = src
        self.tok = tokenize(src)
        self.families = error_families
        self.newlines = [i for i, ch in enumerate(src) if ch == "\n"]
        self.match = self._match_brackets()
        self.in_block = self._classify_braces()
        self.template = self._template_brackets()

    def line_of(self, offset):
        return bisect.bisect_right(self.newlines, offset - 1) + 1

    def site(self, kind, a, b, replacements, text=None):
        start, end = self.tok[a].start, self.tok[b].end
        return Site(self.path, self.line_of(start), start, end, kind,
                    self.src[start:end] if text is None else text, tuple(replacements),
                    self.src.rfind("\n", 0, start) + 1)

    def sites(self):
        found = []
        for i, t in enumerate(self.tok):
            if t.kind == "number":
                found += self._constant(i)
            elif t.kind == "ident":
                if t.text in ("if", "while"):
                    found += self._condition(i)
                elif t.text.startswith("OXMDL_ERR_"):
                    found += self._errorcode(i)
            elif t.text in NEGATED and i not in self.template and not self._after("operator", i):
                found.append(self.site("comparison", i, i, [NEGATED[t.text]]))
            if self._statement_start(i):
                found += self._statement(i)
        return found

    def _after(self, word, i):
        return i > 0 and self.tok[i - 1].text == word

    # Brackets: index of the partner of every ( [ { and ) ] }.
    def _match_brackets(self):
        match, stack = {}, []
        pairs = {")": "(", "]": "[", "}": "{"}
        for i, t in enumerate(self.tok):
            if t.kind != "punct":
                continue
            if t.text in "([{":
                stack.append(i)
            elif t.text in pairs:
                while stack and self.tok[stack[-1]].text != pairs[t.text]:
                    stack.pop()  # unbalanced input: forget the stray opener
                if stack:
                    j = stack.pop()
                    match[i], match[j] = j, i
        return match

    # For every token, whether its innermost brace is a block of statements.
    def _classify_braces(self):
        in_block = []
        self.block_ends = set()  # the "}" that close a block of statements
        stack = []  # one entry per open brace: True for a block of statements
        closed_init = False  # the last "}" closed an initializer (Foo() : a_{1} { ... })
        for i, t in enumerate(self.tok):
            if t.text == "{" and t.kind == "punct":
                prev = self.tok[i - 1] if i else None
                current = bool(stack and stack[-1])
                is_block = prev is not None and (
                    (prev.text in BLOCK_OPENERS and prev.kind != "literal")
                    or (current and prev.text in (";", "{", "}", ":"))
                    or (prev.text == "}" and closed_init and not current))
                if prev is not None and prev.text == "final":
                    is_block = not (i >= 3 and self.tok[i - 3].text in ("class", "struct"))
                stack.append(is_block)
                in_block.append(current)
                continue
            if t.text == "}" and t.kind == "punct" and stack:
                closed_block = stack.pop()
                closed_init = not closed_block
                if closed_block:
                    self.block_ends.add(i)
            in_block.append(bool(stack and stack[-1]))
        return in_block

    # Indexes of the < and > tokens that are template brackets, not comparisons.
    def _template_brackets(self):
        marks = set()
        for i, t in enumerate(self.tok):
            if t.text != "<" or i == 0:
                continue
            prev = self.tok[i - 1]
            if prev.kind != "ident" or (prev.text in KEYWORDS and prev.text not in TEMPLATE_WORDS):
                continue
            closer = self._template_closer(i)
            if closer is not None:
                marks.update((i, closer))
        return marks

    def _template_closer(self, i):
        depth, j = 1, i + 1
        while j < len(self.tok):
            t = self.tok[j]
            if t.text in ("(", "[") and j in self.match:
                j = self.match[j] + 1
                continue
            if t.text == "<" and self.tok[j - 1].kind == "ident":
                depth += 1
            elif t.text in (">", ">>"):
                depth -= len(t.text)
                if depth <= 0:
                    return j
            elif t.text in (";", "{", "}", ")", "]", "&&", "||", "?", "<", "<=", ">="):
                return None
            j += 1
        return None

    def _constant(self, i):
        text = self.tok[i].text
        m = re.fullmatch(r"(0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*)([uUlLzZ]*)", text)
        if not m:
            return []  # a floating-point literal
        digits, suffix = m.group(1).replace("'", ""), m.group(2)
        if digits[:2] in ("0x", "0X"):
            value, fmt = int(digits, 16), lambda v: digits[:2] + _hex(v, digits[2:])
        elif digits[:2] in ("0b", "0B"):
            value, fmt = int(digits[2:], 2), lambda v: digits[:2] + format(v, "b")
        elif len(digits) > 1 and digits[0] == "0":
            value, fmt = int(digits, 8), lambda v: "0" + format(v, "o")
        else:
            value, fmt = int(digits), str
        values = [1] if value == 0 else [value + 1, value - 1]
        return [self.site("constant", i, i, [fmt(v) + suffix for v in values])]

    def _condition(self, i):
        j = i + 1
        if j >= len(self.tok) or self.tok[j].text != "(" or j not in self.match:
            return []  # if constexpr, if consteval, a macro's name
        close = self.match[j]
        first = j + 1
        depth = 0
        for k in range(j + 1, close):  # an init-statement: negate what follows it
            t = self.tok[k]
            if t.text in ("(", "[", "{"):
                depth += 1
            elif t.text in (")", "]", "}"):
                depth -= 1
            elif depth == 0 and t.text == ";":
                first = k + 1
            elif depth == 0 and t.text in ASSIGNMENTS:
                return []  # if (auto x = f()): a declaration, not an expression
        if first >= close or self._declares(first):
            return []
        inner = self.src[self.tok[first].start:self.tok[close - 1].end]
        return [self.site("condition", first, close - 1, ["!(" + inner + ")"])]

    def _statement_start(self, i):
        if i == 0 or not self.in_block[i]:
            return False
        prev = self.tok[i - 1]
        if prev.text == ")" and i - 1 in self.match:  # the body of if (c), while (c), for (...)
            opener = self.match[i - 1]
            return opener > 0 and self.tok[opener - 1].text in ("if", "while", "for")
        return prev.kind == "punct" and (prev.text in (";", "{") or i - 1 in self.block_ends) \
            or (prev.kind == "ident" and prev.text == "else")

    def _statement(self, i):
        t = self.tok[i]
        if t.kind == "ident" and t.text in KEYWORDS and t.text != "this":
            return []
        if t.kind == "ident":
            j = self._skip_name(i)
            if j is None or j >= len(self.tok) or self.tok[j].text not in STATEMENT_FOLLOWERS:
                return []
        elif t.text not in ("::", "++", "--", "*"):
            return []
        end = self._statement_end(i)
        if end is None:
            return []
        # An empty statement in its place: the body of a braceless if stays a body.
        return [self.site("statement", i, end, [";"])]

    def _skip_name(self, i):
        """The index after a (qualified, maybe templated) name starting at i, or None."""
        j = i
        while j < len(self.tok):
            if self.tok[j].text == "this" or (self.tok[j].kind == "ident"
                                              and self.tok[j].text not in KEYWORDS):
                j += 1
            else:
                return None
            if j < len(self.tok) and self.tok[j].text == "<":
                if j not in self.template:
                    return j
                j = self._template_closer(j) + 1
            if j < len(self.tok) and self.tok[j].text == "::":
                j += 1
                continue
            return j
        return None

    def _statement_end(self, i):
        j = i
        while j < len(self.tok):
            t = self.tok[j]
            if t.text in ("(", "[", "{") and j in self.match:
                j = self.match[j] + 1
                continue
            if t.text == ";":
                return j
            if t.text in ("}", ")", "]"):
                return None
            j += 1
        return None

    def _declares(self, i):
        """Whether the tokens from i start a declaration (a type followed by a name)."""
        if self.tok[i].text in ("auto", "const", "unsigned", "int", "bool", "char", "size_t"):
            return True
        j = self._skip_name(i)
        return j is not None and j < len(self.tok) and self.tok[j].kind == "ident"

    def _errorcode(self, i):
        name = self.tok[i].text
        family = self.families.get(_family(name), [])
        others = [n for n in family if n != name]
        if not others:
            others = sorted(n for names in self.families.values() for n in names if n != name)
        if not others:
            return []
        return [self.site("errorcode", i, i, others)]


def _hex(value, like):
    text = format(value, "X" if any(ch in "ABCDEF" for ch in like) else "x")
    return text.rjust(len(like), "0")


def _family(name):
    parts = name.split("_")
    return parts[2] if len(parts) > 3 else name


def error_families(root):
    """The error names of the table, grouped by the word after OXMDL_ERR_."""
    families = {}
    table = os.path.join(root, "frame", "oxerror_table.inc")
    with open(table, encoding="utf-8", errors="replace") as f:
        for name in re.findall(r"OXM_ERROR\((OXMDL_ERR_[A-Z0-9_]+)\s*,", f.read()):
            families.setdefault(_family(name), []).append(name)
    return {k: sorted(v) for k, v in families.items()}


def library_sources(root, headers=False):
    suffixes = (".cpp", ".h") if headers else (".cpp",)
    paths = []
    for folder in LIBRARY_FOLDERS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
            dirnames.sort()
            for name in sorted(filenames):
                if name.endswith(suffixes):
                    paths.append(os.path.relpath(os.path.join(dirpath, name), root))
    return paths


def all_sites(root, headers=False):
    families = error_families(root)
    sites = []
    for path in library_sources(root, headers):
        with open(os.path.join(root, path), encoding="utf-8", errors="surrogateescape") as f:
            sites += FileSites(path, f.read(), families).sites()
    return sites


def pick(sites, count, seed):
    """count (site, replacement) pairs; the same seed and sites give the same pairs."""
    rng = random.Random(str(seed))
    chosen = rng.sample(range(len(sites)), min(count, len(sites)))
    return [(sites[k], rng.choice(sites[k].replacements)) for k in chosen]


def mutate(src, site, replacement):
    return src[:site.start] + replacement + src[site.end:]


# ---------------------------------------------------------------------------------------------
# The copy of the tree and its build.

def tree_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z", "-co", "--exclude-standard"],
                             check=True, capture_output=True).stdout
        names = [n for n in out.decode("utf-8", "surrogateescape").split("\0") if n]
    except (OSError, subprocess.CalledProcessError):  # not a git checkout: all but the builds
        names = []
        for dirpath, dirnames, filenames in os.walk(root):
            rel = os.path.relpath(dirpath, root)
            dirnames[:] = [d for d in dirnames
                           if d != ".git" and not (rel == "." and d.startswith("build"))]
            names += [os.path.normpath(os.path.join(rel, f)) for f in filenames]
    return sorted(n for n in names if os.path.isfile(os.path.join(root, n)))


def sync_copy(root, copy):
    """Makes copy hold exactly the tree's files. A file is rewritten only when its bytes differ,
    and gets a fresh time stamp then, so the build rebuilds what changed (a mutant left behind
    by an interrupted run included) and nothing else."""
    files = tree_files(root)
    wanted = set(files)
    changed = 0
    for name in files:
        src, dst = os.path.join(root, name), os.path.join(copy, name)
        with open(src, "rb") as f:
            data = f.read()
        try:
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue
        except OSError:
            os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)
        shutil.copymode(src, dst)
        changed += 1
    for dirpath, dirnames, filenames in os.walk(copy):
        rel = os.path.relpath(dirpath, copy)
        if rel == ".":
            dirnames[:] = [d for d in dirnames if d != "build"]
        for f in filenames:
            name = os.path.normpath(os.path.join(rel, f))
            if name not in wanted:
                os.remove(os.path.join(copy, name))
    return changed


class Tree:
    def __init__(self, root, workdir, jobs):
        self.root = root
        self.workdir = workdir
        self.src = os.path.join(workdir, "src")
        # The build sits in the copy as build/ sits in a checkout, so that ccache (with a base
        # directory) sees the same relative paths and reuses what other builds compiled.
        self.build = os.path.join(self.src, "build")
        self.logs = os.path.join(workdir, "logs")
        self.baseline_file = os.path.join(workdir, "baseline.json")
        self.results_file = os.path.join(workdir, "results.json")
        self.jobs = jobs

    def prepare(self):
        os.makedirs(self.src, exist_ok=True)
        os.makedirs(self.logs, exist_ok=True)
        # Tests find the shared real-world data at ../shared/testdata beside the source tree
        # (or where OXMIDDLE_TESTDATA says); the copy gets the same.
        data = os.environ.get("OXMIDDLE_TESTDATA") or os.path.join(self.root, "..", "shared",
                                                                   "testdata")
        link = os.path.join(self.workdir, "shared", "testdata")
        if os.path.lexists(link):
            os.remove(link)
        if os.path.isdir(data):
            os.makedirs(os.path.dirname(link), exist_ok=True)
            os.symlink(os.path.realpath(data), link)
        self.state = tree_state(self.root)
        changed = sync_copy(self.root, self.src)
        log("copy: %d file(s) updated in %s" % (changed, self.src))
        if not os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            self.configure()

    def configure(self):
        cmd = ["cmake", "-S", self.src, "-B", self.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               # The sanitizer and ThreadSanitizer copies would build the library twice more per
               # mutant; the benchmarks are not tests.
               "-DOXM_TSAN_TRANSPORT=OFF", "-DOXM_SANITIZED_CORPUS=OFF", "-DOXM_BENCH=OFF",
               # Test programs load the library at run time: a changed library needs no relink.
               "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"]
        if shutil.which("ninja"):
            cmd += ["-G", "Ninja"]
        if shutil.which("ccache"):
            cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        log("configure: " + " ".join(cmd))
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)

    def build_all(self, logfile, timeout):
        cmd = ["cmake", "--build", self.build, "-j%d" % self.jobs]
        rc, _ = run_logged(cmd, logfile, timeout)
        return rc == 0

    def tests(self):
        """Every unit and crash test: (ctest number, name, the program it runs)."""
        out = subprocess.run(["ctest", "--test-dir", self.build, "--show-only=json-v1"],
                             check=True, capture_output=True, text=True).stdout
        found = []
        for number, test in enumerate(json.loads(out)["tests"], start=1):
            labels = []
            for prop in test.get("properties", []):
                if prop["name"] == "LABELS":
                    labels = prop["value"]
            if set(labels) & {"unit", "crash"}:
                program = os.path.basename(test["command"][0]) if test.get("command") else ""
                found.append((number, test["name"], program))
        return found

    def run_tests(self, numbers, logfile, timeout, per_test, stop_on_failure=True):
        """Runs the tests of those numbers, each for at most per_test seconds (those without a
        limit of their own) and all of them for at most timeout. Returns (status, failed names,
        seconds of each test that passed): status is "pass", "fail" or "timeout"."""
        if not numbers:
            return "pass", [], {}
        cmd = ["ctest", "--test-dir", self.build, "-j%d" % self.jobs, "--timeout", str(per_test),
               "--output-on-failure", "-I", "0,0,0," + ",".join(str(n) for n in numbers)]
        if stop_on_failure:
            cmd.append("--stop-on-failure")
        rc, text = run_logged(cmd, logfile, timeout)
        if rc is None:
            return "timeout", [], {}
        failed = [name + (" (time-out)" if how == "Timeout" else "") for name, how in re.findall(
            r"Test\s+#\d+: (\S+)(?:\s+#[^\n]*?)? \.*\s*\*+\s*(Failed|Timeout|Exception|Not Run)", text)]
        times = {name: float(sec) for name, sec in
                 re.findall(r"Test\s+#\d+: (\S+)(?:\s+#[^\n]*?)? \.*\s*Passed\s+([0-9.]+) sec", text)}
        if rc != 0 and not failed:
            failed = ["(ctest exited with %d)" % rc]
        return ("pass" if rc == 0 else "fail"), failed, times


def tree_key(root):
    """A digest of the tree's files but this tool and the documents: the baseline of the tests
    holds while it is unchanged."""
    digest = hashlib.sha256()
    for name in tree_files(root):
        if name.startswith("scripts/mutants.") or name.endswith(".md"):
            continue
        digest.update(name.encode("utf-8", "surrogateescape") + b"\0")
        with open(os.path.join(root, name), "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    return digest.hexdigest()


def load_baseline(tree):
    try:
        with open(tree.baseline_file) as f:
            saved = json.load(f)
    except (OSError, ValueError):
        return None
    return saved if saved.get("tree") == tree_key(tree.root) else None


def save_baseline(tree, baseline):
    with open(tree.baseline_file, "w") as f:
        json.dump(dict(baseline, tree=tree_key(tree.root)), f, indent=1)


def load_results(tree):
    """The mutants already run on this tree, by description: a run that was stopped goes on
    where it stopped, and a larger N reuses the smaller sample's mutants it contains."""
    try:
        with open(tree.results_file) as f:
            saved = json.load(f)
    except (OSError, ValueError):
        return {}
    return saved.get("mutants", {}) if saved.get("tree") == tree_key(tree.root) else {}


def save_results(tree, done):
    with open(tree.results_file + ".tmp", "w") as f:
        json.dump({"tree": tree_key(tree.root), "mutants": done}, f, indent=1)
    os.replace(tree.results_file + ".tmp", tree.results_file)


def run_logged(cmd, logfile, timeout):
    """Runs cmd with its output appended to logfile; returns (exit code or None on time-out,
    the output). A command that runs out of time is stopped with its whole process group."""
    with open(logfile, "a+", errors="replace") as log_out:
        log_out.write("$ %s\n" % " ".join(cmd))
        log_out.flush()
        begin = log_out.tell()
        proc = subprocess.Popen(cmd, stdout=log_out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            stop_group(proc)
            rc = None
        log_out.seek(begin)
        return rc, log_out.read()


def stop_group(proc):
    for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 30)):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            break
        try:
            proc.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            continue


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------
# The run.

def folder_programs(path):
    folder = path.split("/")[0]
    return {"test_%s_unit" % folder, "test_%s_crash" % folder}


def run(args):
    root = os.path.realpath(args.root)
    workdir = os.path.realpath(args.workdir or os.path.join(root, "build-mutants"))
    tree = Tree(root, workdir, args.jobs)
    began = time.time()
    sites = all_sites(root, args.headers)
    mutants = pick(sites, args.count, args.seed)
    counts = {k: sum(1 for s in sites if s.kind == k) for k in KINDS}
    log("sites: %d (%s); sample of %d with seed %s" % (
        len(sites), ", ".join("%s %d" % kv for kv in counts.items()), len(mutants), args.seed))
    if args.list:
        for number, (site, replacement) in enumerate(mutants, start=1):
            log("%3d %s" % (number, site.describe(replacement)))
        return 0

    tree.prepare()
    baseline_log = os.path.join(tree.logs, "baseline.log")
    log("baseline: building")
    if not tree.build_all(baseline_log, args.build_timeout):
        log("baseline: the unmutated tree does not build, see " + baseline_log)
        return 2
    tests = tree.tests()
    baseline = load_baseline(tree) if not args.fresh_baseline else None
    if baseline:
        log("baseline: the tests of this tree passed before (%s), not run again"
            % tree.baseline_file)
    else:
        log("baseline: running the %d unit and crash tests" % len(tests))
        t0 = time.time()
        status, failed, times = tree.run_tests([t[0] for t in tests], baseline_log,
                                               args.build_timeout, args.build_timeout,
                                               stop_on_failure=False)
        if status == "timeout":
            log("baseline: the unmutated tests ran out of time, see " + baseline_log)
            return 2
        baseline = {"seconds": time.time() - t0, "failed": failed, "times": times}
        save_baseline(tree, baseline)
    failed = baseline["failed"]
    if failed:
        # A test that fails without a mutant tells nothing about one: leave it out, and say so.
        log("baseline: failing without any mutant, left out of the runs: " + ", ".join(failed))
        tests = [t for t in tests if t[1] not in failed and t[1] + " (time-out)" not in failed]
    baseline_seconds = baseline["seconds"]
    timeout = args.timeout or int(3 * baseline_seconds + 60)
    log("baseline: tests took %.0f s; time limit per mutant %d s" % (baseline_seconds, timeout))

    done = load_results(tree) if not args.fresh_baseline else {}
    earlier = load_earlier(args.against)
    order = list(enumerate(mutants, start=1))
    if earlier:
        # The mutants an earlier run killed go first: after a change to the tests, whether the
        # score can have dropped is known as soon as those have run again.
        order.sort(key=lambda item: earlier.get(item[1][0].describe(item[1][1]), {}).get(
            "status") != "killed")
    results = []
    for number, (site, replacement) in order:
        key = site.describe(replacement)
        if key in done:
            result = dict(done[key], site=site, replacement=replacement, number=number)
            log("[%d/%d] %s: %s in an earlier run" % (number, len(mutants), key, result["status"]))
        else:
            result = run_mutant(tree, tests, baseline["times"], site, replacement, number,
                                len(mutants), timeout, args.build_timeout)
            result["number"] = number
            done[key] = {k: result[k] for k in ("status", "detail", "seconds", "line")}
            save_results(tree, done)
        results.append(result)
        write_report(args, tree, results, len(mutants), baseline_seconds, failed, began, earlier)
    report = write_report(args, tree, results, len(mutants), baseline_seconds, failed, began,
                          earlier)
    print(report, end="")
    return 0


def phase_limits(names, times, jobs):
    """(seconds per test, seconds for them all) of a run of those tests: three times what they
    took without a mutant, plus a margin for a loaded machine. A mutant that makes a loop endless
    is cut off after about that long instead of the whole run's limit."""
    seconds = [times.get(name, 10.0) for name in names]
    return int(3 * max(seconds, default=0) + 30), int(3 * sum(seconds) / jobs + 60)


def run_mutant(tree, tests, times, site, replacement, number, total, timeout, build_timeout):
    path = os.path.join(tree.src, site.path)
    logfile = os.path.join(tree.logs, "%03d.log" % number)
    if os.path.exists(logfile):
        os.remove(logfile)
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        original = f.read()
    log("[%d/%d] %s ..." % (number, total, site.describe(replacement)))
    t0 = time.time()
    try:
        with open(path, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(mutate(original, site, replacement))
        with open(logfile, "a") as f:
            f.write("mutant: %s\n" % site.describe(replacement))
        if not tree.build_all(logfile, build_timeout):
            status, detail = "no build", ""
        else:
            built = time.time()
            own = folder_programs(site.path)
            status = "pass"
            for phase in ([t for t in tests if t[2] in own], [t for t in tests if t[2] not in own]):
                per_test, limit = phase_limits([t[1] for t in phase], times, tree.jobs)
                left = int(min(limit, timeout - (time.time() - built)))
                if left <= 0:
                    status, failed = "timeout", []
                else:
                    status, failed, _ = tree.run_tests([t[0] for t in phase], logfile, left,
                                                       min(per_test, left))
                if status != "pass":
                    break
            detail = "time limit" if status == "timeout" else ", ".join(failed[:3])
            status = "survived" if status == "pass" else "killed"
    finally:
        with open(path, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(original)
    seconds = time.time() - t0
    log("[%d/%d] %s after %.0f s%s" % (number, total, status, seconds,
                                       ": " + detail if detail else ""))
    return {"site": site, "replacement": replacement, "status": status, "detail": detail,
            "seconds": seconds, "line": site.mutated_line(original, replacement)}


def load_earlier(path):
    """The mutants of an earlier run's results.json (another tree, same seed), by description."""
    if not path:
        return {}
    with open(path) as f:
        return json.load(f).get("mutants", {})


def compare_lines(results, earlier):
    """How this run's outcomes differ from the earlier run's, mutant by mutant."""
    ran = [r for r in results if r["site"].describe(r["replacement"]) in earlier]
    was = {r["number"]: earlier[r["site"].describe(r["replacement"])]["status"] for r in ran}
    kept = sum(1 for r in ran if was[r["number"]] == "killed" and r["status"] == "killed")
    killed_before = sum(1 for v in earlier.values() if v["status"] == "killed")
    lines = ["", "Against the earlier run: %d of its %d killed mutants ran here, %d of them "
             "killed again" % (sum(1 for r in ran if was[r["number"]] == "killed"),
                               killed_before, kept)]
    lines += ["  %3d %s there, %s here: %s" % (r["number"], was[r["number"]], r["status"],
                                               r["site"].describe(r["replacement"]))
              for r in sorted(ran, key=lambda r: r["number"]) if was[r["number"]] != r["status"]]
    return lines


def write_report(args, tree, results, total, baseline_seconds, baseline_failed, began,
                 earlier=None):
    results = sorted(results, key=lambda r: r["number"])
    killed = [r for r in results if r["status"] == "killed"]
    survived = [r for r in results if r["status"] == "survived"]
    no_build = [r for r in results if r["status"] == "no build"]
    judged = len(killed) + len(survived)
    lines = ["Mutation sample: seed %s, %d of %d mutants run%s" % (
        args.seed, len(results), total, "" if len(results) == total else " (incomplete)"),
        "tree: %s" % tree.state]
    if baseline_failed:
        lines.append("left out (failing without a mutant): " + ", ".join(baseline_failed))
    lines += ["killed %d, survived %d, did not build %d" % (len(killed), len(survived),
                                                           len(no_build)),
              "score: %s" % ("%.1f %% (%d / %d)" % (100.0 * len(killed) / judged, len(killed),
                                                    judged) if judged else "n/a"),
              "time: %.0f s in all, %.0f s per mutant on average, baseline tests %.0f s" % (
                  time.time() - began,
                  sum(r["seconds"] for r in results) / len(results) if results else 0,
                  baseline_seconds),
              "", "Survivors:"]
    for r in survived:
        lines += ["  " + r["site"].describe(r["replacement"]), "      " + r["line"]]
    if not survived:
        lines.append("  none")
    if earlier:
        lines += compare_lines(results, earlier)
    lines += ["", "All mutants:"]
    lines += ["  %3d %-8s %4.0f s  %s%s" % (r["number"], r["status"], r["seconds"],
                                           r["site"].describe(r["replacement"]),
                                           "  (%s)" % r["detail"] if r["detail"] else "")
              for r in results]
    text = "\n".join(lines) + "\n"
    with open(os.path.join(tree.workdir, "report.txt"), "w") as f:
        f.write(text)
    return text


def tree_state(root):
    try:
        head = subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"], check=True,
                              capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", root, "status", "--porcelain", "--untracked-files=no"],
                               check=True, capture_output=True, text=True).stdout.strip()
        return head + (" with uncommitted changes" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return root


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", default="1", help="seed of the sample (default 1)")
    parser.add_argument("--count", "-n", type=int, default=20, help="mutants to run (default 20)")
    parser.add_argument("--root", default=os.path.dirname(here), help="the source tree")
    parser.add_argument("--workdir", help="copy, build and report (default ROOT/build-mutants)")
    parser.add_argument("--jobs", "-j", type=int, default=1, help="build and test jobs (default 1)")
    parser.add_argument("--timeout", type=int, default=0,
                        help="seconds of tests per mutant (default: 3 x the unmutated run + 60)")
    parser.add_argument("--build-timeout", type=int, default=3600, help="seconds per build")
    parser.add_argument("--headers", action="store_true",
                        help="mutate the folders' headers too (each such mutant rebuilds most "
                             "of the library and the tests)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--fresh-baseline", action="store_true",
                        help="run the unmutated tests and every mutant again even if this tree "
                             "ran them before")
    parser.add_argument("--against", metavar="RESULTS",
                        help="an earlier run's results.json with the same seed (e.g. before a "
                             "change to the tests): run its killed mutants first and list the "
                             "mutants whose outcome differs")
    args = parser.parse_args(argv)
    if args.count < 1:
        parser.error("--count must be at least 1")
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
