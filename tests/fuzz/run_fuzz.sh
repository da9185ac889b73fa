#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan) and runs each for SECONDS, seeded with
# the shared messages (feeds for rss). Exits 77 (skipped) without libFuzzer, 1 when a target failed
# (the input is kept in the work directory).
# usage: run_fuzz.sh SOURCE_DIR WORK_DIR SECONDS [TESTDATA_DIR [TARGET...]]
# Targets: decode, date, encode, pop_reply, smtp_reply (the default) and rss.
set -euo pipefail
src=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
seconds=$3
testdata=${OXMIDDLE_TESTDATA:-${4:-$src/../shared/testdata}}
shift $(( $# < 4 ? $# : 4 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode date encode pop_reply smtp_reply)

cxx=$(command -v clang++ || true)
if [ -z "$cxx" ] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     "$cxx" -x c++ -fsanitize=fuzzer - -o "$work/probe" 2>/dev/null; then
  echo "skipped: no clang++ that links libFuzzer (Debian packages clang, libclang-rt-dev)"
  exit 77
fi

xml_cflags=$(pkg-config --cflags libxml-2.0 2>/dev/null || echo -I/usr/include/libxml2)
xml_libs=$(pkg-config --libs libxml-2.0 2>/dev/null || echo -lxml2)
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -I"$src" $xml_cflags)
# The library sources each target needs.
sources_of() {
  case $1 in
    rss) echo "$src"/platform/*.cpp "$src"/feeds/rssparser/src/*.cpp ;;
    pop_reply | smtp_reply)
      echo "$src"/platform/*.cpp "$src"/frame/*.cpp "$src"/codec/*.cpp "$src"/transport/pop_reply.cpp \
           "$src"/transport/smtp_reply.cpp "$src"/transport/reply_end.cpp "$src"/transport/dotstuff.cpp ;;
    *) echo "$src"/platform/*.cpp "$src"/frame/*.cpp "$src"/codec/*.cpp ;;
  esac
}
# The library once, as objects (two jobs at most), then one link per target.
read -r -a sources <<< "$(for target in "${targets[@]}"; do sources_of "$target"; done | tr ' ' '\n' | sort -u | tr '\n' ' ')"
# An object is reused while it is newer than its source and no header has changed since.
headers=$(cat "$src"/platform/*.h "$src"/frame/*.h "$src"/frame/*.inc "$src"/codec/*.h "$src"/codec/*.inc \
  "$src"/transport/*.h "$src"/feeds/rssparser/src/*.h 2>/dev/null | md5sum)
if [ "$(cat "$work/headers.sum" 2>/dev/null)" != "$headers" ]; then
  rm -rf "$work/obj"
  echo "$headers" > "$work/headers.sum"
fi
mkdir -p "$work/obj"
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} sh -c \
  'o="$1/obj/$(echo "$2" | tr / _).o"; [ "$o" -nt "$2" ] || "$3" $4 -fsanitize=fuzzer-no-link -c "$2" -o "$o"' \
  _ "$work" {} "$cxx" "${flags[*]}"
objects_of() { for f in $(sources_of "$1"); do echo "$work/obj/$(echo "$f" | tr / _).o"; done; }

seeds="$work/seeds"
mkdir -p "$seeds"/{decode,date,encode,rss,pop_reply,smtp_reply}
for dir in mail:decode mail:encode feeds:rss; do
  find "$testdata/${dir%:*}" -type f ! -name '*.md' -size -200k -exec cp -t "$seeds/${dir#*:}" {} + 2>/dev/null || true
done
printf '<rss version="2.0"><channel><title>t</title><item><title>i</title></item></channel></rss>' > "$seeds/rss/min"
printf 'mailto:a%%40example.jp?subject=s&body=b%%20c' > "$seeds/encode/mailto"
printf 'Tue, 4 Dec 2007 10:00:00 +0900' > "$seeds/date/rfc"
printf 'Mon, 31 Dec 2007 20 : 15 : 09 EST (comment (nested))' > "$seeds/date/odd"
printf '4 Dec 07 10:00 +900' > "$seeds/date/short"
# POP3 and SMTP replies: the first byte sets the piece size of the end test.
printf '\x03+OK\r\n1 000a\r\n2 000b\r\n.\r\n' > "$seeds/pop_reply/uidl"
printf '\x05+OK 2 320\r\n' > "$seeds/pop_reply/stat"
printf '\x01+OK\r\n1 120\r\n2 200\r\n.\r\n' > "$seeds/pop_reply/list"
printf '\x07+OK 12 octets\r\nA\r\n..dot\r\n\r\n.\r\n' > "$seeds/pop_reply/retr"
printf '\x02-ERR no such message\r\n' > "$seeds/pop_reply/err"
printf '\x03250-localhost\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 HELP\r\n' > "$seeds/smtp_reply/ehlo"
printf '\x01334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n' > "$seeds/smtp_reply/cram"
printf '\x05554-no\r\n554 never\r\n' > "$seeds/smtp_reply/refused"
printf '\x02220 ready\r\n' > "$seeds/smtp_reply/greeting"

status=0
for target in "${targets[@]}"; do
  # shellcheck disable=SC2046
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "$src/tests/fuzz/${target}_fuzz.cpp" $(objects_of "$target") $xml_libs \
    -lssl -lcrypto -lcurl -ljpeg -lgif -lpng -ldl -lpthread -o "$work/${target}_fuzz"
  mkdir -p "$work/corpus_$target" "$work/crashes_$target"
  echo "== ${target}_fuzz for ${seconds}s"
  if ! (cd "$work/crashes_$target" && OXMIDDLE_SYNC=0 "$work/${target}_fuzz" -max_total_time="$seconds" \
        -max_len=65536 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        "$work/corpus_$target" "$seeds/$target" 2>&1 | tail -n 25); then
    status=1
  fi
  if ls "$work/crashes_$target"/crash-* "$work/crashes_$target"/timeout-* "$work/crashes_$target"/oom-* >/dev/null 2>&1; then
    echo "${target}_fuzz: failing inputs kept in $work/crashes_$target"
    status=1
  fi
done
exit $status
