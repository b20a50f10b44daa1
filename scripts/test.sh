#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: a
# normal build, then an AddressSanitizer + UndefinedBehaviorSanitizer build.
# Usage: scripts/test.sh            (both configurations)
#        scripts/test.sh release    (normal build only)
#        scripts/test.sh asan       (sanitizer build only)
#        scripts/test.sh tsan       (ThreadSanitizer: thread and plug-in tests)
#        scripts/test.sh windows    (Windows builds only; part of "all")
#
# The windows stage builds versewell.dll for i686 (the shipped target) and
# x86_64, and versewell.exe for both, checks them with objdump, and runs the
# x86_64 test suite under wine64, the CLI's end-to-end tests against
# versewell.exe and the Microsoft-ABI test host (tests/msabi_host) included. The i686 build is never run: these machines cannot execute
# 32-bit x86 code, natively or under Wine.
#        scripts/test.sh fuzz       (fuzz targets only)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
which=${1:-all}

# Tests talk to loopback only; never let a proxy from the environment in.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

run() {
  local name=$1; shift
  echo "=== $name: configure and build"
  cmake -S . -B "build/$name" "$@" >/dev/null
  cmake --build "build/$name" -j"$jobs"
  echo "=== $name: test"
  (cd "build/$name" && ctest --output-on-failure -j"$jobs")
}

if [ "$which" = all ] || [ "$which" = release ]; then
  run release -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [ "$which" = all ] || [ "$which" = asan ]; then
  # intercept_tls_get_addr=0: LeakSanitizer (GCC 12, glibc 2.36) can crash on
  # the TLS of a library loaded with dlopen; leak checking stays on.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  run asan -DCMAKE_BUILD_TYPE=Debug -DVERSEWELL_SANITIZE=ON
fi
if [ "$which" = all ] || [ "$which" = tsan ]; then
  # ThreadSanitizer: only the thread tests, the plug-in tests and the CLI's
  # worker pool (batch and library), so only their targets are built. Any report fails the run (exit code 66); the
  # program still ends normally, so the loopback wiki it started is stopped.
  echo "=== tsan: configure and build"
  tsan_start=$(date +%s)
  cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERSEWELL_TSAN=ON >/dev/null
  cmake --build build/tsan -j"$jobs" --target thread_tests plugin_tests cli_library_tests
  echo "=== tsan: test"
  (cd build/tsan && TSAN_OPTIONS=${TSAN_OPTIONS:-second_deadlock_stack=1} \
    ctest --output-on-failure -R '^(thread_tests|plugin_tests|cli_library_tests)$')
  echo "=== tsan: $(( $(date +%s) - tsan_start )) s"
fi
# Fuzz stage: builds the libFuzzer targets with clang and runs each for 20 s
# from its seed corpus (new entries stay under build/, never in fuzz/corpus).
fuzz_stage() {
  echo "=== fuzz: build with clang and smoke-run every target"
  FUZZ_BUILD_DIR=build/fuzz FUZZ_WORK_DIR=build/fuzz-ci FUZZ_JOBS="$jobs" ./scripts/fuzz.sh 20
}
if [ "$which" = all ] || [ "$which" = fuzz ]; then
  fuzz_stage
fi
if [ "$which" = all ] || [ "$which" = windows ]; then
  stage_start=$(date +%s)
  ./scripts/install-deps.sh windows
  # The Windows tests start the native wiki server, and the parity test
  # compares versewell.exe with the native versewell: reuse the release
  # build's programs, else build just those.
  native=build/release
  if [ ! -x "$native/versewell-wiki" ] || [ ! -x "$native/versewell" ] || [ ! -e "$native/libversewell.so" ]; then
    native=build/wiki-native
    cmake -S . -B "$native" -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$native" -j"$jobs" --target versewell-wiki versewell_cli versewell
  fi
  echo "=== windows i686: build the plug-in and the CLI and check them"
  cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
  cmake --build build/windows-i686 -j"$jobs" --target versewell versewell_cli
  ./scripts/check-windows-dll.sh i686 build/windows-i686/versewell.dll
  ./scripts/check-windows-exe.sh i686 build/windows-i686/versewell.exe
  # The test host built in Microsoft's C++ ABI (tests/msabi_host): the i686
  # one is built and checked, never run; the x86_64 one runs in the suite
  # below. Both hosts' tables are compared with the boundary's slot list.
  echo "=== windows: Microsoft-ABI test host, i686 build and checks, table layouts"
  msabi_start=$(date +%s)
  tests/msabi_host/build.sh i686 build/windows-i686/msabi_host
  tests/msabi_host/check_exe.sh i686 build/windows-i686/msabi_host/msabi_host.exe
  python3 tests/msabi_host/check_layout.py i686
  python3 tests/msabi_host/check_layout.py x86_64
  echo "=== windows: Microsoft-ABI host checks $(( $(date +%s) - msabi_start )) s"
  echo "=== windows x86_64: build, then test under wine64"
  cmake -S . -B build/windows-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVERSEWELL_NATIVE_WIKI_SERVER="$PWD/$native/versewell-wiki" \
    -DVERSEWELL_NATIVE_CLI="$PWD/$native/versewell" -DVERSEWELL_NATIVE_PLUGIN="$PWD/$native/libversewell.so" >/dev/null
  cmake --build build/windows-x86_64 -j"$jobs"
  ./scripts/check-windows-dll.sh x86_64 build/windows-x86_64/versewell.dll
  ./scripts/check-windows-exe.sh x86_64 build/windows-x86_64/versewell.exe
  (cd build/windows-x86_64 && ctest --output-on-failure -j"$jobs")
  echo "=== windows: $(( $(date +%s) - stage_start )) s"
fi
echo "=== all tests passed"
