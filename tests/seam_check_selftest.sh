#!/usr/bin/env bash
# Runs seam_check.sh on the fixture tree in tests/seam/: every line marked "// HIT" in its
# library folders must be listed as file:line and nothing else (not the look-alikes beside them,
# nor platform/ and tests/).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
check="$here/seam_check.sh"
fixtures="$here/seam"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The whole tree fails and lists exactly the marked lines (not platform/ nor tests/).
cp -r "$fixtures" "$tmp/all"
rc=0
out=$("$check" "$tmp/all" 2>"$tmp/err") || rc=$?
[ "$rc" -eq 1 ] || fail "expected exit status 1 with host calls present, got $rc: $(cat "$tmp/err")"
expected=$(cd "$tmp/all" && grep -rn '// HIT$' frame store | cut -d: -f1,2 | sort -u)
[ "$(printf '%s\n' "$expected" | wc -l)" -ge 18 ] || fail "the fixture lost its HIT markers"
got=$(printf '%s\n' "$out" | cut -d: -f1,2 | sort -u)
if [ "$expected" != "$got" ]; then
  echo "expected (<) and listed (>) differ:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$got") || true
  fail "wrong hits"
fi
grep -q 'direct host call' "$tmp/err" || fail "no summary on stderr"

# A root without any of the scanned folders is an error, not a pass.
mkdir -p "$tmp/empty"
if "$check" "$tmp/empty" >/dev/null 2>&1; then fail "an empty root passed"; fi
if "$check" "$tmp/missing" >/dev/null 2>&1; then fail "a missing root passed"; fi

echo "seam_check self-test: $(printf '%s\n' "$got" | wc -l) hits found as expected"
