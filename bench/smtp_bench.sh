#!/usr/bin/env bash
# Sending through a local Exim: 1000 short messages, then 10 messages with a 1 MB attachment,
# by `oxmail send` (outbox to sent tray, each message filed) and by Python's smtplib (the same
# files over one connection, nothing filed), in the same run. Prints the times and the ratio.
# Needs root, Exim (exim4-daemon-light), openssl and python3; exits 77 (skipped) without them.
#
# usage: smtp_bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
oxmail="$build/tools/oxmail/oxmail"
if [ ! -x /usr/sbin/exim4 ] || [ "$(id -u)" -ne 0 ] || ! command -v openssl >/dev/null; then
  echo "skipped: needs root, exim4 and openssl"
  exit 77
fi

work=$(mktemp -d /tmp/oxm-smtp-bench.XXXXXX)
chmod 755 "$work"
trap '"$src/scripts/exim.sh" stop "$work/exim" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -m 755 "$work/certs"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=localhost \
  -keyout "$work/certs/localhost.key" -out "$work/certs/localhost.crt" 2>/dev/null
ports=$(python3 -c 'import socket
s=[socket.socket() for _ in range(4)]
[x.bind(("127.0.0.1",0)) for x in s]
print(" ".join(str(x.getsockname()[1]) for x in s))')
set -- $ports
plain=$1
"$src/scripts/exim.sh" start "$work/exim" "$work/certs" "$@" >/dev/null

# The messages as files: short ones, and ones with 1 MB of Base64.
python3 - "$work" <<'EOF'
import base64, os, sys
work = sys.argv[1]
for kind, count in (("short", 1000), ("large", 10)):
    d = os.path.join(work, kind)
    os.mkdir(d)
    for i in range(count):
        head = ("From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: %s %d\r\n"
                "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nMime-Version: 1.0\r\n" % (kind, i))
        if kind == "short":
            text = head + "Content-Type: text/plain; charset=us-ascii\r\n\r\nA short message %d.\r\n" % i
        else:
            blob = base64.encodebytes(os.urandom(1 << 20)).decode().replace("\n", "\r\n")
            text = (head + "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                    "Content-Type: text/plain\r\n\r\nsee the file\r\n--b\r\n"
                    "Content-Type: application/octet-stream; name=\"f.bin\"\r\n"
                    "Content-Transfer-Encoding: base64\r\n\r\n" + blob + "--b--\r\n")
        with open(os.path.join(d, "%04d.eml" % i), "w", newline="") as f:
            f.write(text)
EOF

ox() { OXMIDDLE_SYNC=${OXMIDDLE_SYNC:-1} "$oxmail" --root "$work/root" --quiet "$@"; }
ox init >/dev/null
# One account per run: a tray holds at most 1000 messages.
for kind in short large; do
  ox account add "$kind" --address alice@example.jp --smtp "127.0.0.1:$plain" --smtp-auth none >/dev/null
done

# The shell's own clock: a Python started to read the time took 0.3 s on this machine, inside
# the interval it measured.
seconds() { python3 -c 'import sys; print("%.3f" % (float(sys.argv[2]) - float(sys.argv[1])))' "$1" "$2"; }

smtplib_send() {
  python3 - "$1" "$plain" <<'EOF'
import glob, smtplib, sys, time
files = sorted(glob.glob(sys.argv[1] + "/*.eml"))
start = time.time()
s = smtplib.SMTP("127.0.0.1", int(sys.argv[2]))
for name in files:
    with open(name, "rb") as f:
        s.sendmail("alice@example.jp", ["bob@example.jp"], f.read())
s.quit()
print("%.3f" % (time.time() - start))
EOF
}

printf '%-32s %10s %10s %8s\n' "run" "oxmail s" "smtplib s" "ratio"
for kind in short large; do
  ox import "$kind" outbox "$work/$kind" >/dev/null
  count=$(ls "$work/$kind" | wc -l)
  t0=$EPOCHREALTIME
  ox send "$kind" >/dev/null
  t1=$EPOCHREALTIME
  ours=$(seconds "$t0" "$t1")
  theirs=$(smtplib_send "$work/$kind")
  ratio=$(python3 -c "print('%.2f' % ($ours / $theirs))")
  printf '%-32s %10s %10s %8s\n' "$count $kind messages" "$ours" "$theirs" "$ratio"
done
echo "(oxmail also files every message in the sent tray; OXMIDDLE_SYNC=${OXMIDDLE_SYNC:-1})"
