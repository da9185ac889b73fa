#!/bin/sh
# Starts and stops an Exim test daemon on 127.0.0.1 for the SMTP tests. Everything lives in DIR:
# the configuration, the spool, the log, the users file and the delivered messages.
#
# usage: exim.sh start DIR CERTS PLAIN SUBMIT STRICT SMTPS
#        exim.sh stop DIR
#        exim.sh run DIR CERTS PLAIN SUBMIT STRICT SMTPS
# start detaches the daemon (stop ends it); run keeps it in the foreground for a caller that runs
# it as a child: it lasts until its standard input is closed (the caller ended, however it
# ended), then ends every process of its process group, its own included.
#
# Ports:
#   PLAIN   no AUTH, no STARTTLS, every recipient accepted
# On every port the recipient "refused@<any domain>" is refused with 550.
#   SUBMIT  STARTTLS, AUTH PLAIN LOGIN CRAM-MD5 offered before and after it; RCPT needs AUTH
#   STRICT  STARTTLS, AUTH offered only after it; RCPT needs AUTH
#   SMTPS   TLS from the first byte, AUTH; RCPT needs AUTH
# CERTS holds localhost.crt and localhost.key. Users: alice/secret1, bob/secret2.
#
# Each accepted message is one file per recipient in DIR/out/new/:
#   "MAIL FROM:<sender>\r\nRCPT TO:<recipient>\r\n\r\n" and the message as received (dot-unstuffed,
#   CR LF line ends, no header added).
#
# Exim drops root when given a configuration file and runs as Debian-exim: DIR and CERTS must be
# reachable by that user (the caller makes them 0755), and the key is made world-readable.
# Exits 77 when Exim is not installed.
set -eu

EXIM=/usr/sbin/exim4
cmd=${1:-}
dir=${2:-}
usage="usage: exim.sh start|run DIR CERTS PLAIN SUBMIT STRICT SMTPS | stop DIR"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "$usage" >&2; exit 2; }

alive() { s=$(ps -o stat= -p "$1" 2>/dev/null); [ -n "$s" ] && [ "${s#Z}" = "$s" ]; }

stop() {
  [ -s "$dir/exim.pid" ] || { echo "exim not running ($dir)"; return 0; }
  pid=$(cat "$dir/exim.pid")
  kill -TERM "$pid" 2>/dev/null || true
  i=0
  while alive "$pid" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  rm -f "$dir/exim.pid"
  echo "exim stopped (pid $pid)"
}

# The folder, the users and the configuration.
setup() {
  [ -x "$EXIM" ] || { echo "exim4 is not installed (Debian package exim4-daemon-light)"; exit 77; }
  [ $# -eq 6 ] || { echo "$usage" >&2; exit 2; }
  certs=$2 plain=$3 submit=$4 strict=$5 smtps=$6
  mkdir -p "$dir/spool" "$dir/log" "$dir/out"
  chown Debian-exim:Debian-exim "$dir/spool" "$dir/log" "$dir/out"
  chmod 0755 "$dir"
  chmod 0644 "$certs/localhost.crt" "$certs/localhost.key"
  printf 'alice: secret1\nbob: secret2\n' > "$dir/passwd"
  chmod 0644 "$dir/passwd"
  write_conf "$certs" "$plain" "$submit" "$strict" "$smtps" > "$dir/exim.conf"
  rm -f "$dir/exim.pid"
}

run() {
  setup "$@"
  "$EXIM" -C "$dir/exim.conf" -bdf < /dev/null &
  cat > /dev/null
  kill -KILL 0
}

start() {
  setup "$@"
  "$EXIM" -C "$dir/exim.conf" -bd
  i=0
  while [ $i -lt 100 ]; do
    ok=1
    [ -s "$dir/exim.pid" ] || ok=0
    for p in $plain $submit $strict $smtps; do
      python3 -c "import socket; socket.create_connection(('127.0.0.1',$p),0.5).close()" 2>/dev/null || ok=0
    done
    [ $ok = 1 ] && { echo "exim up, pid $(cat "$dir/exim.pid"), ports $plain $submit $strict $smtps"; return 0; }
    sleep 0.1
    i=$((i + 1))
  done
  echo "exim did not come up"
  tail -20 "$dir/log/mainlog" "$dir/log/paniclog" 2>/dev/null || true
  stop
  exit 1
}

# The configuration: the verified recipe with the folder and ports filled in, and "_" allowed in
# the EHLO name (the client greets "EHLO OxMail_1" before STARTTLS).
write_conf() {
  cat <<EOF
primary_hostname = localhost
keep_environment =
qualify_domain = localhost
local_interfaces = <; 127.0.0.1
daemon_smtp_ports = $2 : $3 : $4 : $5
tls_on_connect_ports = $5
spool_directory = $dir/spool
log_file_path = $dir/log/%slog
pid_file_path = $dir/exim.pid
log_selector = +smtp_protocol_error +smtp_syntax_error +received_recipients
host_lookup =
rfc1413_hosts =
helo_allow_chars = _
smtp_banner = localhost ESMTP test server
received_header_text =
smtp_accept_max = 100
smtp_accept_queue_per_connection = 0
message_size_limit = 64M
ignore_bounce_errors_after = 0s
timeout_frozen_after = 1d
tls_certificate = $1/localhost.crt
tls_privatekey = $1/localhost.key
tls_advertise_hosts = \${if eq{\$received_port}{$2}{}{*}}
auth_advertise_hosts = \${if eq{\$received_port}{$2}{}{\${if and{{eq{\$received_port}{$4}}{eq{\$tls_in_cipher}{}}}{}{*}}}}
acl_smtp_rcpt = acl_rcpt

begin acl

acl_rcpt:
  deny    local_parts   = refused
          message       = 550 5.1.1 refused by the test server
  accept  condition     = \${if eq{\$received_port}{$2}}
  accept  authenticated = *
  deny    message       = 530 5.7.0 Authentication required

begin routers

store:
  driver = accept
  transport = t_store

begin transports

t_store:
  driver = appendfile
  directory = $dir/out
  maildir_format = true
  create_directory = true
  directory_mode = 0755
  mode = 0644
  user = Debian-exim
  group = Debian-exim
  use_crlf = true
  message_prefix = MAIL FROM:<\$sender_address>\r\nRCPT TO:<\$local_part@\$domain>\r\n\r\n
  message_suffix =
  check_string =
  escape_string =
  return_path_add = false
  envelope_to_add = false
  delivery_date_add = false

begin retry
*  *  F,1m,1m

begin rewrite

begin authenticators

auth_plain:
  driver = plaintext
  public_name = PLAIN
  server_prompts = :
  server_condition = \${if and{{!eq{\$auth2}{}}{eq{\$auth3}{\${lookup{\$auth2}lsearch{$dir/passwd}{\$value}fail}}}}}
  server_set_id = \$auth2

auth_login:
  driver = plaintext
  public_name = LOGIN
  server_prompts = Username:: : Password::
  server_condition = \${if and{{!eq{\$auth1}{}}{eq{\$auth2}{\${lookup{\$auth1}lsearch{$dir/passwd}{\$value}fail}}}}}
  server_set_id = \$auth1

auth_cram:
  driver = cram_md5
  public_name = CRAM-MD5
  server_secret = \${lookup{\$auth1}lsearch{$dir/passwd}{\$value}fail}
  server_set_id = \$auth1
EOF
}

case "$cmd" in
  start) shift; start "$@" ;;
  run) shift; run "$@" ;;
  stop) stop ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
