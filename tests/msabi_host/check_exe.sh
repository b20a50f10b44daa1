#!/bin/sh
# Checks a built msabi_host.exe without running it: the PE format of TARGET
# (i686: PE32 for i386; x86_64: PE32+), a console program, no exports, and
# imports from KERNEL32.dll and ucrtbase.dll only (so no Microsoft or mingw
# runtime crept in), among them the loader calls and the heap it shares with
# the plug-in.
#
#   check_exe.sh TARGET EXE
set -eu
target=$1 exe=$2
dump=$("$target-w64-mingw32-objdump" -p "$exe")
fail() { echo "msabi_host.exe ($target): $*" >&2; exit 1; }
case $target in
  i686) echo "$dump" | grep -q 'file format pei-i386' || fail "not a PE32 i386 image"
        echo "$dump" | grep -q '^Magic.*(PE32)' || fail "not PE32" ;;
  x86_64) echo "$dump" | grep -q 'file format pei-x86-64' || fail "not a PE32+ x86-64 image" ;;
  *) fail "unknown target" ;;
esac
echo "$dump" | grep -q 'Subsystem.*(Windows CUI)' || fail "not a console program"
echo "$dump" | grep -q 'Export Directory' && ! echo "$dump" | grep -q 'Entry 0 0*0 0*0 Export Directory' &&
  fail "has an export directory"
dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll ucrtbase.dll " ] || fail "imports from: $dlls"
for f in LoadLibraryW GetProcAddress FreeLibrary malloc free; do
  echo "$dump" | grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$f\$" || fail "no import of $f"
done
echo "msabi_host.exe ($target): imports $dlls- ok"
