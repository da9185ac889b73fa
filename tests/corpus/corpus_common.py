"""What the two comparisons with Python share: their arguments, the shared messages, and the
run of the program that writes what our codec makes of them."""
import os
import subprocess
import sys
import tempfile


def arguments(doc):
    """(code page, program, message files) from [--codepage 932|65001] PROGRAM TESTDATA_DIR;
    exits 2 with the usage on other arguments and 77 when there are no messages."""
    args = sys.argv[1:]
    codepage = "932"
    if len(args) == 4 and args[0] == "--codepage" and args[1] in ("932", "65001"):
        codepage, args = args[1], args[2:]
    if len(args) != 2:
        print(doc)
        sys.exit(2)
    tool, testdata = args
    mail = os.path.join(os.environ.get("OXMIDDLE_TESTDATA") or testdata, "mail")
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(mail) for f in fs if not f.endswith(".md"))
    if not files:
        print(f"skipped: no messages under {mail} (set OXMIDDLE_TESTDATA to the shared test data)")
        sys.exit(77)
    return codepage, tool, mail, files


def run(tool, codepage, files, **kwargs):
    """A temporary directory (to be used in a with statement) that the program has filled."""
    out = tempfile.TemporaryDirectory()
    subprocess.run([tool, "--codepage", codepage, out.name] + files, check=True, **kwargs)
    return out
