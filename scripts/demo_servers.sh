#!/bin/bash
# The local servers of `oxmail demo`: Dovecot (POP3), Exim (SMTP) and nginx (HTTP) on free
# 127.0.0.1 ports, everything in DIR, started with the scripts the tests use.
#
#   demo_servers.sh DIR     (DIR is made; its parents must be reachable by every user)
#
# Talks over its standard input and output (the program runs it as its child):
#   out "missing PKG..."          the Debian packages that are not installed (or "missing root"
#                                 when not run as root); exits 77
#   out "ready POP SMTP HTTP WWW" the ports and nginx's document folder (HTTP is 0 and WWW "-"
#                                 when scripts/nginx.sh or nginx is not there)
#   in  "deliver N USER"          waits (at most 10 s) for N messages accepted by Exim and puts
#                                 them into USER's Dovecot mailbox, as a local delivery would;
#   out "delivered K"             answers with the number moved
# At the end of its input (the program ended, however it ended) it stops every server and
# removes DIR. Stops the same way on any failure during the start ("failed WHAT", exit 1).
set -u
dir=${1:?usage: demo_servers.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
trap '' INT  # Ctrl-C is the program's; the end of the input stops the servers

missing=""
[ -x /usr/sbin/dovecot ] || missing="$missing dovecot-pop3d"
[ -x /usr/sbin/exim4 ] || missing="$missing exim4-daemon-light"
command -v openssl >/dev/null || missing="$missing openssl"
[ -n "$missing" ] && { echo "missing$missing"; exit 77; }
[ "$(id -u)" = 0 ] || { echo "missing root"; exit 77; }
web=1
[ -x /usr/sbin/nginx ] && [ -x "$here/nginx.sh" ] || web=0

stop_all() {
  [ "$web" = 1 ] && "$here/nginx.sh" stop "$dir/nginx" >/dev/null 2>&1
  "$here/exim.sh" stop "$dir/exim" >/dev/null 2>&1
  "$here/dovecot.sh" stop "$dir/dovecot" >/dev/null 2>&1
  rm -rf "$dir"
}
trap stop_all EXIT

# Sets port to one that nothing answers on and that was not handed out before.
used=" "
free_port() {
  while :; do
    port=$((20000 + RANDOM % 40000))
    case "$used" in *" $port "*) continue ;; esac
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    used="$used$port "
    return
  done
}

# Exim and Dovecot read their folders as their own users: DIR must be reachable by them.
mkdir -p "$dir/certs" && chmod 755 "$dir" "$dir/certs"
"$here/certs.sh" "$dir/certs" >&2 || { echo "failed certificates"; exit 1; }
# Each server is started on fresh ports, up to three times: another program may take a port
# between the probe and the start.
start_dovecot() {
  free_port; pop=$port
  free_port; pops=$port
  "$here/dovecot.sh" start "$dir/dovecot" "$pop" "$pops" "$dir/certs/localhost.crt" "$dir/certs/localhost.key" >&2
}
start_exim() {
  free_port; smtp=$port
  free_port; submit=$port
  free_port; strict=$port
  free_port; smtps=$port
  "$here/exim.sh" start "$dir/exim" "$dir/certs" "$smtp" "$submit" "$strict" "$smtps" >&2
}
start_nginx() {
  free_port; http=$port
  "$here/nginx.sh" start "$dir/nginx" "$http" >&2
}
start() {
  local _
  for _ in 1 2 3; do "start_$1" && return 0; done
  echo "failed $1"
  exit 1
}
start dovecot
start exim
http=0 www=-
if [ "$web" = 1 ]; then
  start nginx
  www="$dir/nginx/www"
fi
echo "ready $pop $smtp $http $www"

# Exim writes the envelope first ("MAIL FROM:...", "RCPT TO:...", an empty line) and CR LF line
# ends; the mailbox gets the message alone with LF line ends, owned by Dovecot's user.
deliver() {
  local want=$1 user=$2 out="$dir/exim/out/new" box="$dir/dovecot/home/$2/Maildir" n=0 f i
  for i in $(seq 200); do
    [ "$(ls "$out" 2>/dev/null | wc -l)" -ge "$want" ] && break
    sleep 0.05
  done
  mkdir -p "$box/cur" "$box/new" "$box/tmp"
  chown -R mail:mail "$dir/dovecot/home/$user"
  for f in "$out"/*; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    sed '1,/^\r$/d; s/\r$//' "$f" > "$box/tmp/demo.$n"
    chown mail:mail "$box/tmp/demo.$n"
    mv "$box/tmp/demo.$n" "$box/new/$(date +%s).D$n.oxmaildemo"
    rm -f "$f"
  done
  echo "delivered $n"
}

while read -r cmd a b; do
  case "$cmd" in
    deliver) deliver "$a" "$b" ;;
    *) echo "unknown $cmd" ;;
  esac
done
