#!/usr/bin/env bash
# Runs seam_check.sh on the fixture tree tests/seam/: it must list exactly the lines marked
# "// HIT", not the look-alikes beside them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
check="$here/seam_check.sh"
fixtures="$here/seam"
fail() { echo "FAIL: $*"; exit 1; }

rc=0
out=$("$check" "$fixtures") || rc=$?
[ "$rc" -eq 1 ] || fail "expected exit status 1 with host calls present, got $rc"
expected=$(cd "$fixtures" && grep -rn '// HIT$' frame store | cut -d: -f1,2 | sort -u)
[ "$(printf '%s\n' "$expected" | wc -l)" -ge 17 ] || fail "the fixture lost its HIT markers"
got=$(printf '%s\n' "$out" | cut -d: -f1,2 | sort -u)
if [ "$expected" != "$got" ]; then
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$got") || true
  fail "wrong hits (<: expected, >: listed)"
fi
# A root without any of the scanned folders, or none at all, is an error, not a pass.
for root in "$fixtures/store" "$fixtures/missing"; do
  if "$check" "$root" >/dev/null 2>&1; then fail "$root passed"; fi
done
echo "seam_check self-test: $(printf '%s\n' "$got" | wc -l) hits found as expected"
