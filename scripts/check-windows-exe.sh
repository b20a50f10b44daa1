#!/usr/bin/env bash
# Checks a built versewell.exe with objdump -p:
#  - the PE format of its architecture (PE32 "pei-i386" for i686),
#  - a console program (subsystem Windows CUI), entered through wmain,
#  - imports from system DLLs only: versewell.dll is loaded at run time with
#    LoadLibraryW, never linked, and the mingw runtime is linked statically.
# Usage: scripts/check-windows-exe.sh i686|x86_64 path/to/versewell.exe
set -euo pipefail
arch=$1 exe=$2
file=$exe tool=check-windows-exe
# shellcheck source=windows-pe-checks.sh
. "$(dirname "$0")/windows-pe-checks.sh"
check_format
grep -qE "^Subsystem\s+0+3\s" <<<"$dump" || fail "not a console program"

check_imports '^(KERNEL32|msvcrt|ADVAPI32|USER32|ntdll|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
grep -qE '\s(LoadLibraryExW|LoadLibraryW)$' <<<"$dump" || fail "does not import LoadLibraryW/LoadLibraryExW"
echo "check-windows-exe: $exe: $format, console, imports $(tr '\n' ' ' <<<"$imports")"
