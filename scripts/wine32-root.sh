#!/usr/bin/env bash
# Sets up what the i686 Windows tests run on, without installing anything
# 32-bit on the machine itself:
#   ROOT/sysroot  Wine's 32-bit loader and every i386 library it needs,
#                 unpacked (dpkg -x) from Debian 12's wine32:i386 closure;
#   ROOT/qemu     qemu-user 10 from bookworm-backports, unpacked the same way
#                 (ROOT/qemu/usr/bin/qemu-i386, a static program).
# Debian 12's own qemu-user-static (7.2) is not used: it does not honour
# MAP_FIXED_NOREPLACE, so Wine's start-up reservation of the upper address
# space degrades into tens of thousands of relocated mmap calls, and
# wineboot then stalls for good (see README, Windows section).
#
# Usage: scripts/wine32-root.sh ROOT          (download and unpack; idempotent)
#        scripts/wine32-root.sh ROOT binfmt   (as root: also register ROOT's
#                                              qemu-i386 for i386 ELF programs)
# Exit status 0 when ROOT is ready; 3 with a message on stderr when this
# machine cannot have it (no access to deb.debian.org, not root, no
# binfmt_misc); any other failure is a fault of its own.
# The apt state lives under ROOT/apt; the machine's own apt state is never
# touched and no foreign architecture is added.
set -euo pipefail
root=${1:?usage: $0 ROOT [binfmt]}
# Exit status 3: this machine cannot do it (the caller may skip, not fail).
unavailable() { echo "wine32-root: $*" >&2; exit 3; }
mkdir -p "$root"
root=$(cd "$root" && pwd)
stamp="$root/.ready-1"

# apt-get download/install --download-only with a private state: one
# sources list, one architecture, an empty dpkg status (so the whole
# dependency closure is fetched, whatever the machine has installed).
private_apt() {
  local name=$1 arch=$2 suites=$3; shift 3
  local dir="$root/apt/$name"
  mkdir -p "$dir/state/lists/partial" "$dir/cache/archives/partial"
  : > "$dir/state/status"
  : > "$dir/sources.list"
  local suite
  for suite in $suites; do
    local base=http://deb.debian.org/debian
    case $suite in *-security) base=http://deb.debian.org/debian-security ;; esac
    echo "deb [arch=$arch signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $base $suite main" \
      >> "$dir/sources.list"
  done
  local opts=(-o "Dir::Etc::SourceList=$dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o "Dir::State=$dir/state" -o "Dir::State::status=$dir/state/status" -o "Dir::Cache=$dir/cache"
    -o "APT::Architecture=$arch" -o "APT::Architectures=$arch" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" -qq update >&2 || return 1
  apt-get "${opts[@]}" -qq -y --no-install-recommends --download-only install "$@" >/dev/null || return 1
  echo "$dir/cache/archives"
}

if [ ! -e "$stamp" ]; then
  rm -rf "$root/sysroot" "$root/qemu"
  # libfreetype6: Wine loads it at run time (fonts); without it every
  # process prints a warning.
  debs=$(private_apt i386 i386 "bookworm bookworm-security" wine32 libfreetype6) ||
    unavailable "cannot download wine32:i386 from deb.debian.org"
  mkdir -p "$root/sysroot"
  for deb in "$debs"/*.deb; do dpkg -x "$deb" "$root/sysroot"; done
  # What libwine's postinst does on a real install: copy the mingw zlib as
  # a Wine builtin DLL (user32 imports zlib1.dll).
  for pair in i686:i386 x86_64:x86_64; do
    src="$root/sysroot/usr/${pair%%:*}-w64-mingw32/lib/zlib1.dll"
    dst="$root/sysroot/usr/lib/i386-linux-gnu/wine/${pair##*:}-windows/zlib1.dll"
    { head -c 64 "$src"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$src"; } > "$dst"
  done
  debs=$(private_apt qemu amd64 bookworm-backports qemu-user) ||
    unavailable "cannot download qemu-user from bookworm-backports"
  mkdir -p "$root/qemu"
  # Only the one emulator of the package is needed.
  dpkg --fsys-tarfile "$(ls "$debs"/qemu-user_*.deb)" | tar -x -C "$root/qemu" ./usr/bin/qemu-i386
  "$root/qemu/usr/bin/qemu-i386" --version | head -1 >&2
  touch "$stamp"
fi

if [ "${2:-}" = binfmt ]; then
  if [ "$(id -u)" -ne 0 ]; then unavailable "registering with binfmt_misc needs root"; fi
  bf=/proc/sys/fs/binfmt_misc
  if [ ! -e "$bf/register" ]; then
    mount -t binfmt_misc binfmt_misc "$bf" 2>/dev/null || unavailable "cannot mount binfmt_misc"
  fi
  # Replace our earlier entry. The kernel tries the newest entry first, so
  # ours wins over a machine-wide qemu-i386 one, which is left alone. The F
  # flag opens the interpreter now, so it works inside any mount namespace.
  if [ -e "$bf/versewell-i386" ]; then echo -1 > "$bf/versewell-i386"; fi
  printf '%s' ":versewell-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$root/qemu/usr/bin/qemu-i386:F" \
    > "$bf/register"
fi
