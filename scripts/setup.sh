#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. Idempotent: when every package
# is already installed it only asks dpkg and prints nothing.
set -euo pipefail

# Later work appends its packages here.
OXM_PACKAGES=(
  build-essential
  cmake
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  python3
  libgmime-3.0-dev
  clang
  libclang-rt-14-dev
  libxml2-dev
  python3-feedparser
  libssl-dev
  openssl
  libjpeg62-turbo-dev
  libgif-dev
  libpng-dev
  dovecot-pop3d
  procps
  exim4-daemon-light
  libcurl4-openssl-dev
  nginx
  libnginx-mod-http-echo
)

missing=()
for pkg in "${OXM_PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  if [ "$status" != "installed" ]; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: not root and no sudo; install these packages by hand: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
