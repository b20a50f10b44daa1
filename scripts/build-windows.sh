#!/usr/bin/env bash
# Builds versewell.dll and versewell.exe (the CLI, which loads the DLL beside
# it) for 32-bit and 64-bit Windows with mingw-w64, and installs them:
#   out-windows/i686/    bin/versewell.dll, bin/versewell.exe, include/versewell/
#                        (the shipped target)
#   out-windows/x86_64/  the same for 64-bit Windows
# Installs the Debian packages it needs first (scripts/install-deps.sh windows).
#
# Both builds are compiled, linked and inspected here, not run. The x86_64
# tests run under wine64 (scripts/test.sh windows), the i686 ones under
# Wine's 32-bit loader and qemu-i386 (scripts/test.sh windows32).
#
# versewell.dll speaks the ABI of a host built with Microsoft's compiler
# (Microsoft's vtable layout, MFC CStringW, Microsoft's std::list and
# std::wstring); see README.md, "Which ABI the DLL speaks".
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh windows

jobs=$(nproc 2>/dev/null || echo 2)
for arch in i686 x86_64; do
  build=build/windows-$arch
  echo "=== windows $arch: configure and build"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
  rm -rf "out-windows/$arch"
  cmake --install "$build" --prefix "out-windows/$arch" >/dev/null
  ./scripts/check-windows-dll.sh "$arch" "out-windows/$arch/bin/versewell.dll"
  ./scripts/check-windows-exe.sh "$arch" "out-windows/$arch/bin/versewell.exe"
done
echo "=== windows builds installed in out-windows/"
