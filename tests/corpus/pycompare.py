"""The frame of the comparisons with Python: arguments, the shared test data, the run of our
program, and the count of the rules that explain differences with the differences none explains."""
import collections, os, subprocess, sys, tempfile  # noqa: E401


def skip(why):
    print("skipped: " + why)
    sys.exit(77)


def arguments(doc, kind, codepages=True):
    """(code page, program, folder, files) from [--codepage 932|65001] PROGRAM TESTDATA_DIR, the files
    under TESTDATA_DIR/kind; exits 2 with the usage on other arguments, 77 when there are no files."""
    args = sys.argv[1:]
    codepage = "932"
    if codepages and len(args) == 4 and args[0] == "--codepage" and args[1] in ("932", "65001"):
        codepage, args = args[1], args[2:]
    if len(args) != 2:
        print(doc)
        sys.exit(2)
    root = os.path.join(os.environ.get("OXMIDDLE_TESTDATA") or args[1], kind)
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs if not f.endswith(".md"))
    if not files:
        skip(f"no {kind} under {root} (set OXMIDDLE_TESTDATA to the shared test data)")
    return codepage, args[0], root, files


def run(tool, codepage, files, **kwargs):
    """A temporary directory (for a with statement) that the program has filled."""
    out = tempfile.TemporaryDirectory()
    subprocess.run([tool, "--codepage", codepage, out.name] + files, check=True, **kwargs)
    return out


class Tally:
    def __init__(self, *shown):
        self.counts = collections.Counter({name: 0 for name in shown})
        self.failures = []

    def count(self, rule):
        self.counts[rule] += 1

    def fail(self, line):
        self.failures.append(line)

    def report(self, summary):
        """Prints the counts after the summary, then the failures; the exit status."""
        print(summary + ": " + ", ".join(f"{n} {k}" for k, n in sorted(self.counts.items())))
        for line in self.failures:
            print("DIFFERENT: " + line)
        return 1 if self.failures else 0
