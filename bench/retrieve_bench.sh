#!/bin/bash
# Retrieval from a local Dovecot into the store (oxmail fetch), beside Python's poplib writing
# the same mailbox into a maildir in the same run. Two mailboxes: 1000 messages of 4 KB and 20 of
# 1 MB. oxmail runs with the store's flushes off (OXMIDDLE_SYNC=0) and on (the default); poplib
# writes each message to tmp/ and renames it into new/, without and with an fsync per message.
#
# usage: retrieve_bench.sh BUILD_DIR   (needs root, dovecot and openssl; skips otherwise)
set -u
build=$(cd "${1:?usage: retrieve_bench.sh BUILD_DIR}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
oxmail=$build/tools/oxmail/oxmail
if [ "$(id -u)" != 0 ] || [ ! -x /usr/sbin/dovecot ] || ! command -v openssl >/dev/null; then
  echo "retrieve_bench: skipped (needs root, dovecot and openssl)"
  exit 0
fi
# A work folder on the project's disk, not a RAM file system, so that flushes cost what they do.
# Nothing is deleted until the end: on ext4 every new file walks past the files freed in the
# last minutes, so a run made after another run's clean-up would pay for it.
work=$(mktemp -d "$build/retrieve_bench.XXXXXX")
chmod 755 "$work"
trap '"$src/scripts/dovecot.sh" stop "$work/dovecot"; rm -rf "$work"' EXIT
port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
"$src/scripts/certs.sh" "$work/certs" >/dev/null
pop=$(port)
"$src/scripts/dovecot.sh" start "$work/dovecot" "$pop" "$(port)" "$work/certs/localhost.crt" \
  "$work/certs/localhost.key" || exit 1

python3 "$src/bench/retrieve_bench.py" fill "$work/dovecot/home/alice/Maildir" 1000 4096
python3 "$src/bench/retrieve_bench.py" fill "$work/dovecot/home/bob/Maildir" 20 1048576
chown -R mail:mail "$work/dovecot/home"

# Seconds of one `oxmail fetch` of USER's whole mailbox into a fresh root.
oxmail_fetch() {  # user password sync
  local root=$work/root.$1.$3
  "$oxmail" --root "$root" --quiet init
  "$oxmail" --root "$root" --quiet account add A --pop "127.0.0.1:$pop" --user "$1" --password "$2"
  # One JSON line a message, into a file: a pipe would wake its reader for each line.
  OXMIDDLE_SYNC=$3 "$oxmail" --root "$root" --json fetch A >"$root.json"
  tail -1 "$root.json" |
    python3 -c 'import json,sys; d=json.load(sys.stdin); print("%.3f %d" % (d["seconds"], d["fetched"]))'
}
poplib_fetch() {  # user password fsync
  python3 "$src/bench/retrieve_bench.py" fetch 127.0.0.1 "$pop" "$1" "$2" "$work/poplib.$1.$3" "$3"
}

printf '%-28s %12s %12s %12s %12s\n' "mailbox" "oxmail" "poplib" "ratio" "messages"
for row in "alice secret1 1000x4KB" "bob secret2 20x1MB"; do
  set -- $row
  python3 "$src/bench/retrieve_bench.py" warm 127.0.0.1 "$pop" "$1" "$2"
  for sync in 0 1; do
    read -r ours count < <(oxmail_fetch "$1" "$2" "$sync")
    theirs=$(poplib_fetch "$1" "$2" "$sync")
    label="$3 $([ "$sync" = 0 ] && echo 'no flush' || echo 'flushed')"
    printf '%-28s %11ss %11ss %11sx %12s\n' "$label" "$ours" "$theirs" \
      "$(python3 -c "print('%.2f' % ($ours / $theirs))")" "$count"
  done
done
