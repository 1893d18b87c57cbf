#!/usr/bin/env bash
# Installs what the Windows cross build and the Wine tests need, and only what is missing:
# the mingw-w64 i686 compiler, Wine with its 32-bit loader, and Xvfb; also the 64-bit Wine loader
# and the x86_64 compiler, with which the window tests still run on a kernel that executes 64-bit
# programs only (there the 32-bit loader cannot start).
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
for package in g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb; do
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
