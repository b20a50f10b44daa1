#!/usr/bin/env bash
# Checks a built versewell.exe with objdump -p:
#  - the PE format of its architecture (PE32 "pei-i386" for i686),
#  - a console program (subsystem Windows CUI), entered through wmain,
#  - imports from system DLLs only: versewell.dll is loaded at run time with
#    LoadLibraryW, never linked, and the mingw runtime is linked statically.
# Usage: scripts/check-windows-exe.sh i686|x86_64 path/to/versewell.exe
set -euo pipefail
arch=$1 exe=$2
case "$arch" in
  i686) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
  x86_64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
fail() { echo "check-windows-exe: $exe: $*" >&2; exit 1; }
dump=$("$objdump" -p "$exe")

grep -q "file format $format\$" <<<"$dump" || fail "not $format"
if [ "$arch" = i686 ]; then
  grep -q "^Magic.*010b" <<<"$dump" || fail "optional header is not PE32 (magic 010b)"
fi
grep -qE "^Subsystem\s+0+3\s" <<<"$dump" || fail "not a console program"

allowed='^(KERNEL32|msvcrt|ADVAPI32|USER32|ntdll|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(grep -E '^\s+DLL Name:' <<<"$dump" | awk '{print $3}')
[ -n "$imports" ] || fail "no imports found"
while read -r name; do
  grep -qiE "$allowed" <<<"$name" || fail "imports $name, which is not a system DLL"
done <<<"$imports"
grep -qE '\s(LoadLibraryExW|LoadLibraryW)$' <<<"$dump" || fail "does not import LoadLibraryW/LoadLibraryExW"
echo "check-windows-exe: $exe: $format, console, imports $(tr '\n' ' ' <<<"$imports")"
