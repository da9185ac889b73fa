#!/bin/bash
# A Dovecot POP3 server for the tests, everything in one folder, listening on 127.0.0.1 only.
#
#   dovecot.sh start DIR PORT TLSPORT CERT KEY   plain POP3 on PORT, implicit TLS on TLSPORT
#   dovecot.sh run DIR PORT TLSPORT CERT KEY     the same in the foreground (exec): the test
#                                                fixture runs it as its child, so the server
#                                                dies with the test process
#   dovecot.sh stop DIR
#
# Users alice/secret1 and bob/secret2 keep their mail in DIR/home/USER/Maildir. APOP works (the
# passwords are stored in plain text). Must run as root: Dovecot switches to its users "mail"
# and "dovenull", so DIR must be reachable by them (it is made 755).
set -u
cmd=${1:?usage: dovecot.sh start|run DIR PORT TLSPORT CERT KEY | stop DIR}
dir=${2:?DIR missing}

master_pid() { [ -s "$dir/run/master.pid" ] && cat "$dir/run/master.pid"; }

case "$cmd" in
start|run)
  port=${3:?PORT missing}; tlsport=${4:?TLSPORT missing}; cert=${5:?CERT missing}; key=${6:?KEY missing}
  mkdir -p "$dir/home" "$dir/run" "$dir/state"
  chmod 755 "$dir"
  chown mail:mail "$dir/home"
  cat > "$dir/passwd" <<'PW'
alice:{PLAIN}secret1
bob:{PLAIN}secret2
PW
  cat > "$dir/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
default_internal_user = dovecot
default_login_user = dovenull
first_valid_uid = 0
# Without the stats process a login started just before the stop cannot delay it.
stats_writer_socket_path =
disable_plaintext_auth = no
auth_mechanisms = plain login apop cram-md5
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=mail gid=mail home=$dir/home/%u
}
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
ssl = yes
ssl_cert = <$cert
ssl_key = <$key
ssl_min_protocol = TLSv1.2
service pop3-login {
  inet_listener pop3 {
    port = $port
  }
  inet_listener pop3s {
    port = $tlsport
    ssl = yes
  }
}
CONF
  rm -f "$dir/run/master.pid"
  [ "$cmd" = run ] && exec /usr/sbin/dovecot -F -c "$dir/dovecot.conf"
  /usr/sbin/dovecot -c "$dir/dovecot.conf" || exit 1
  # Up when the pid file exists and both ports accept (the ports may come first).
  for _ in $(seq 200); do
    ok=1
    [ -s "$dir/run/master.pid" ] || ok=0
    for p in "$port" "$tlsport"; do
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || ok=0
    done
    [ $ok = 1 ] && exit 0
    sleep 0.05
  done
  echo "dovecot did not come up on $port/$tlsport" >&2
  tail -20 "$dir/dovecot.log" >&2
  "$0" stop "$dir"
  exit 1
  ;;
stop)
  pid=$(master_pid) || exit 0
  # The folder is thrown away after the stop, so nothing needs an orderly shutdown. The master
  # is a session leader: its process group holds every child that could keep a port.
  kill -KILL -- "-$pid" 2>/dev/null
  # Gone when only zombies are left (the master is reaped by PID 1, which may take a while).
  for _ in $(seq 100); do
    ps -o stat= --sid "$pid" 2>/dev/null | grep -qv '^Z' || break
    sleep 0.02
  done
  rm -f "$dir/run/master.pid"
  exit 0
  ;;
*)
  echo "usage: dovecot.sh start|run DIR PORT TLSPORT CERT KEY | stop DIR" >&2
  exit 2
  ;;
esac
