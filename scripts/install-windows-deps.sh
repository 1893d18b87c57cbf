#!/usr/bin/env bash
# Installs what the Windows cross build and the Wine tests need, and only what is missing:
# the mingw-w64 i686 compiler, Wine with its 32-bit loader, and Xvfb.
# Non-interactive; runs as root (or through sudo when there is one) with no standard input.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo -n env DEBIAN_FRONTEND=noninteractive "$@"
  else
    echo "install-windows-deps: must run as root to install: $*" >&2
    exit 1
  fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in g++-mingw-w64-i686 wine wine32:i386 xvfb; do
  installed "$package" || missing+=("$package")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
as_root apt-get update -q </dev/null
as_root apt-get install -y -q "${missing[@]}" </dev/null
