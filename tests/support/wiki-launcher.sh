#!/bin/sh
# Starts the native versewell-wiki for a test that runs under Wine, where the
# test cannot read the server's standard output or signal it directly.
#
#   wiki-launcher.sh SERVER ROOT STATE_DIR PARENT_PID [SERVER OPTIONS...]
#
# The server's standard error (its --log lines) goes to STATE_DIR/err.
# Writes the server's port to STATE_DIR/port once it listens (or "0" to
# STATE_DIR/port when it failed to start), and stops the server as soon as
# STATE_DIR/stop appears, STATE_DIR goes away, or the process PARENT_PID (the
# test, as a Linux process) ends, so no server outlives its test. Finally
# writes STATE_DIR/stopped.
server=$1 root=$2 state=$3 parent=$4
shift 4
"$server" --root "$root" --port 0 "$@" >"$state/out" 2>"$state/err" </dev/null &
wiki=$!
port=
while [ -z "$port" ]; do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$state/out" 2>/dev/null | head -n 1)
  [ -n "$port" ] && break
  if ! kill -0 "$wiki" 2>/dev/null; then port=0; break; fi
  sleep 0.05
done
echo "$port" >"$state/port.tmp" && mv "$state/port.tmp" "$state/port"
while [ -d "$state" ] && [ ! -e "$state/stop" ] && kill -0 "$parent" 2>/dev/null && kill -0 "$wiki" 2>/dev/null; do
  sleep 0.1
done
kill "$wiki" 2>/dev/null
wait "$wiki" 2>/dev/null
[ -d "$state" ] && : >"$state/stopped"
exit 0
