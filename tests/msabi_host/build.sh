#!/bin/sh
# Builds the Microsoft-ABI test host, msabi_host.exe, for TARGET (i686 or
# x86_64) into OUTDIR: clang with an *-pc-windows-msvc target, linked by
# lld-link against the mingw-w64 import libraries of kernel32 and ucrtbase
# only, without Microsoft's runtime (own entry point HostEntry, no default
# libraries, no exceptions, no run-time type information).
#
#   build.sh TARGET OUTDIR
set -eu
target=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
clang=${CLANGXX:-clang++-14}
lld=${LLD_LINK:-lld-link}
libs=/usr/$target-w64-mingw32/lib
mkdir -p "$out"
objs=
for f in HostRuntime HostStrings HostStl HostMain; do
  "$clang" --target="$target-pc-windows-msvc" -std=c++17 -O1 -Wall -Wextra -Werror -fno-exceptions -fno-rtti \
    -fno-threadsafe-statics -ffreestanding -mno-stack-arg-probe -I "$root/include" \
    -c "$here/$f.cpp" -o "$out/$f.obj"
  objs="$objs $out/$f.obj"
done
# The stack is committed whole at start (/stack:reserve,commit): without
# Microsoft's runtime there is no __chkstk to touch the guard page of a
# frame larger than a page. 32-bit: the import libraries carry no safe
# exception handler tables.
safeseh=
[ "$target" = i686 ] && safeseh=/safeseh:no
# shellcheck disable=SC2086
"$lld" /nologo $safeseh /stack:0x200000,0x200000 /entry:HostEntry /subsystem:console /nodefaultlib "/out:$out/msabi_host.exe" $objs \
  "$libs/libkernel32.a" "$libs/libucrtbase.a"
