#!/usr/bin/env bash
# Checks a built versewell.dll with objdump -p:
#  - the PE format of its architecture (PE32 "pei-i386" for i686),
#  - exactly one export, the undecorated GetDllInterface,
#  - imports from system DLLs only (nothing from the mingw runtime DLLs such
#    as libstdc++-6.dll, libgcc_s_*.dll or libwinpthread-1.dll),
#  - that the export is the Microsoft-ABI entry, and that the DLL names
#    ucrtbase.dll, the heap of a Microsoft-built host,
#  - no mention of the shared libgcc DLLs (libgcc_s_dw2-1.dll and kin): the
#    DLL's start-up code must never look one up to register its unwind
#    tables there (platform/win32/crt/crtbegin.c),
#  - a version resource with file and product version VERSION, while the
#    plug-in's own information keeps "2.1.2000.0".
# Usage: scripts/check-windows-dll.sh i686|x86_64 path/to/versewell.dll [VERSION]
set -euo pipefail
arch=$1 dll=$2 version=${3:-2.1.12805.600}
file=$dll tool=check-windows-dll
# shellcheck source=windows-pe-checks.sh
. "$(dirname "$0")/windows-pe-checks.sh"
check_format

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[' | awk '{print $NF}')
[ "$exports" = GetDllInterface ] || fail "exports are [$exports], expected exactly GetDllInterface"

check_imports '^(KERNEL32|WINHTTP|msvcrt|ADVAPI32|ntdll|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'

# The export is the Microsoft-ABI entry (plugin/msabi/versewell.def), not the
# core's own GetDllInterface: compared by address while the file still has
# its symbol table. The heap of a Microsoft-built host's operator new is
# ucrtbase.dll's, which the DLL loads at first use, so it names the module.
rva=$(sed -n '/^Export Address Table/,/^$/p' <<<"$dump" | awk '/Export RVA/ {print $(NF-2)}')
base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
entry=$("${objdump%objdump}nm" "$dll" 2>/dev/null | awk '$3 ~ /^_?GetMsDllInterface$/ {print $1}')
if [ -n "$entry" ]; then
  [ $((16#$base + 16#$rva)) -eq $((16#$entry)) ] || fail "GetDllInterface is not the Microsoft-ABI entry GetMsDllInterface"
fi
grep -aq 'u.c.r.t.b.a.s.e...d.l.l' "$dll" || fail "no ucrtbase.dll (the host heap) named in the DLL"
# The compiler's own crtbegin.o names libgcc_s_dw2-1.dll (i686) to hand
# the unwind tables to it when another module loaded it; ours names nothing.
libgcc_names=$(strings -a "$dll" | grep -io 'libgcc_s_[a-z0-9]*-1\.dll' || true)
[ -z "$libgcc_names" ] || fail "names a shared libgcc DLL: $(head -1 <<<"$libgcc_names")"

# 32-bit: the SEH guard's handler (platform/win32/msabi/GuardedCall-i686.S)
# is accepted by the loader only while the image has no SafeSEH table (no
# load configuration directory) and does not say it has no handlers (NO_SEH).
if [ "$arch" = i686 ]; then
  grep -Eq '^Entry a 0+ 0+ Load Configuration Directory' <<<"$dump" ||
    fail "has a load configuration directory: its SafeSEH table would have to list the SEH guard's handler"
  characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$dump")
  [ $((16#$characteristics & 0x400)) -eq 0 ] || fail "marked NO_SEH: the SEH guard's handler would never be called"
fi

# The resource: VS_FIXEDFILEINFO holds the version as two DWORD pairs
# (major<<16|minor, build<<16|revision) for file and product version.
IFS=. read -r v1 v2 v3 v4 <<<"$version"
hex=$(printf '%04x%04x%04x%04x' "$v2" "$v1" "$v4" "$v3")
le=$(sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\2\1\4\3\6\5\8\7/' <<<"$hex")
section=$("$objdump" -s -j .rsrc "$dll" | awk 'NR>4 {for (i=2;i<=5;i++) printf "%s", $i}')
count=$(grep -o "$le$le" <<<"$section" | wc -l || true)
[ "$count" -ge 1 ] || fail "no version resource with file and product version $version"
grep -q "bd04effe" <<<"$section" || fail "no VS_FIXEDFILEINFO signature"
# The plug-in's own version stays what the plug-in reports.
grep -aq '2\.1\.2000\.0' "$dll" || fail "the plug-in version 2.1.2000.0 is missing"
echo "check-windows-dll: $dll: $format, one export GetDllInterface, imports $(tr '\n' ' ' <<<"$imports")version $version"
