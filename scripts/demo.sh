#!/usr/bin/env bash
# The first thing to run: installs what is missing, builds and installs
# Versewell into ./out, starts the bundled sample wiki on a free loopback
# port, shows one artist's songs and one song's lyrics through the versewell
# command-line host, and stops the wiki again (also when a step fails).
# Needs no internet connection once the packages are installed.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

# The demo talks to 127.0.0.1 only; a proxy from the environment must not
# catch that traffic.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

prefix="$PWD/out"
jobs=$(nproc 2>/dev/null || echo 2)
# What a host loads is what a user ships: an optimised build, installed
# stripped. VERSEWELL_DEBUG_INFO=1 installs an optimised build with its debug
# information instead (build/demo-debuginfo), for a debugger or a profiler.
if [ "${VERSEWELL_DEBUG_INFO:-0}" = 1 ]; then
  build=build/demo-debuginfo build_type=RelWithDebInfo strip=()
else
  build=build/demo build_type=Release strip=(--strip)
fi
echo "=== building ($build, $build_type) and installing into $prefix"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DVERSEWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"
cmake --install "$build" --prefix "$prefix" "${strip[@]}" >/dev/null

work=$(mktemp -d)
wiki_pid=""
cleanup() {
  if [ -n "$wiki_pid" ] && kill -0 "$wiki_pid" 2>/dev/null; then
    kill -TERM "$wiki_pid" 2>/dev/null || true
    wait "$wiki_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "=== starting the sample wiki ($prefix/share/versewell/wiki)"
"$prefix/bin/versewell-wiki" --root "$prefix/share/versewell/wiki" --port 0 >"$work/wiki.out" 2>"$work/wiki.err" &
wiki_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/wiki.out")
  [ -n "$port" ] && break
  kill -0 "$wiki_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the sample wiki did not start:" >&2
  cat "$work/wiki.err" >&2
  exit 1
fi
echo "    listening on 127.0.0.1:$port"

vw() { "$prefix/bin/versewell" --proxy "127.0.0.1:$port" --cache-dir "$work/cache" "$@"; }

echo
echo "=== versewell --proxy 127.0.0.1:$port songs Quillfeather"
vw songs Quillfeather
echo
echo "=== versewell --proxy 127.0.0.1:$port lyrics Quillfeather \"salt road\""
vw lyrics Quillfeather "salt road"
echo
echo "=== done. The wiki has been stopped. To explore further:"
echo "    $prefix/bin/versewell-wiki --root $prefix/share/versewell/wiki --port 8080 &"
echo "    $prefix/bin/versewell --proxy 127.0.0.1:8080 songs \"Driftwood Company\""
echo "    $prefix/bin/versewell --help"
