#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: a
# normal build, then an AddressSanitizer + UndefinedBehaviorSanitizer build.
# Usage: scripts/test.sh            (both configurations)
#        scripts/test.sh release    (normal build only)
#        scripts/test.sh asan       (sanitizer build only)
#        scripts/test.sh tsan       (ThreadSanitizer: thread and plug-in tests)
#        scripts/test.sh windows    (Windows builds only; part of "all")
#        scripts/test.sh windows32  (the i686 tests under emulation; part of "all")
#
# The windows stage builds versewell.dll for i686 (the shipped target) and
# x86_64, and versewell.exe for both, checks them with objdump, and runs the
# x86_64 test suite under wine64, the CLI's end-to-end tests against
# versewell.exe and the Microsoft-ABI test host (tests/msabi_host) included.
# The windows32 stage runs the i686 build's tests under Wine's 32-bit loader
# and qemu-i386, both unpacked into build/wine32 by scripts/wine32-root.sh
# (as root: it registers qemu-i386 with binfmt_misc). A machine that cannot
# (not root, no binfmt_misc, no access to deb.debian.org) skips the stage
# with a message; a test that fails there fails the run.
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
# The Windows tests start the native wiki server, and the parity test
# compares versewell.exe with the native versewell: reuse the release
# build's programs, else build just those. Sets $native.
native_programs() {
  native=build/release
  if [ ! -x "$native/versewell-wiki" ] || [ ! -x "$native/versewell" ] || [ ! -e "$native/libversewell.so" ]; then
    native=build/wiki-native
    cmake -S . -B "$native" -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$native" -j"$jobs" --target versewell-wiki versewell_cli versewell
  fi
}
if [ "$which" = all ] || [ "$which" = windows ]; then
  stage_start=$(date +%s)
  ./scripts/install-deps.sh windows
  native_programs
  echo "=== windows i686: build the plug-in and the CLI and check them"
  cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
  cmake --build build/windows-i686 -j"$jobs" --target versewell versewell_cli
  ./scripts/check-windows-dll.sh i686 build/windows-i686/versewell.dll
  ./scripts/check-windows-exe.sh i686 build/windows-i686/versewell.exe
  # The test host built in Microsoft's C++ ABI (tests/msabi_host): the i686
  # one is built and checked here (the windows32 stage runs it); the x86_64
  # one runs in the suite below. Both hosts' tables are compared with the
  # boundary's slot list.
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
# The i686 tests under Wine's 32-bit loader and qemu-i386. Emulation is
# slow (a test program starts in about 3 s instead of 0.3 s): the stage runs
# the programs listed here (cmake/WindowsTests.cmake leaves a few slow cases
# of them to the x86_64 run), each program capped by its ctest timeout. Not
# listed: cli_end_to_end_tests (many minutes of program starts under
# emulation; the same script runs against the x86_64 program).
WINDOWS32_PROGRAMS=(platform_tests text_tests plugin_tests artist_cache_tests lyrics_cleaning_tests
  search_wiki_tests http_tests diag_file_tests trace_log_tests file_fault_tests thread_tests
  private_profile_tests host_abi_tests unload_registry_tests diag_unload_tests
  loaded_library_search_tests wiki_server_tests cli_unit_tests msabi_tests foreign_unwinder_tests)
# Python scripts that run versewell.exe, and the Microsoft-ABI test host
# (tests/msabi_host, its i686 build) against the i686 DLL.
WINDOWS32_SCRIPTS=(cli_stop_tests cli_parity_tests msabi_host_tests)
windows32_stage() {
  local stage_start rc=0
  stage_start=$(date +%s)
  ./scripts/install-deps.sh windows
  ./scripts/wine32-root.sh build/wine32 binfmt || rc=$?
  if [ "$rc" -eq 3 ]; then
    echo "=== windows32: skipped: this machine cannot run i386 programs under qemu (see above)"
    return 0
  elif [ "$rc" -ne 0 ]; then
    return "$rc"
  fi
  native_programs
  echo "=== windows32: build the i686 tests, then run them under Wine's 32-bit loader and qemu-i386"
  cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVERSEWELL_BUILD_TESTS=ON -DVERSEWELL_WINE32_ROOT="$PWD/build/wine32" \
    -DVERSEWELL_NATIVE_WIKI_SERVER="$PWD/$native/versewell-wiki" \
    -DVERSEWELL_NATIVE_CLI="$PWD/$native/versewell" -DVERSEWELL_NATIVE_PLUGIN="$PWD/$native/libversewell.so" >/dev/null
  cmake --build build/windows-i686 -j"$jobs" --target "${WINDOWS32_PROGRAMS[@]}" versewell_cli msabi_host
  local names
  names=$(IFS='|'; echo "${WINDOWS32_PROGRAMS[*]}|${WINDOWS32_SCRIPTS[*]}")
  # The whole run is capped at 25 minutes (it takes far less); a run cut
  # there fails the stage, and its wineserver is ended either way.
  local test_rc=0
  (cd build/windows-i686 && timeout 1500 ctest --output-on-failure -j"$jobs" -R "^(${names})\$") || test_rc=$?
  WINEPREFIX="$PWD/build/windows-i686/wineprefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  if [ "$test_rc" -ne 0 ]; then
    echo "=== windows32: failed (ctest exit $test_rc; 124 means the 25-minute cap)"
    return "$test_rc"
  fi
  echo "=== windows32: $(( $(date +%s) - stage_start )) s"
}
if [ "$which" = all ] || [ "$which" = windows32 ]; then
  windows32_stage
fi
echo "=== all tests passed"
