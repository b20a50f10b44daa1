#!/bin/sh
# start: creates the private prefix if needed, starts one persistent
#        wineserver (-p) and warms it up with a trivial program; all output
#        goes to /dev/null, because Wine's background processes would
#        otherwise keep ctest's pipes open and ctest would wait forever.
# stop:  ends that wineserver (and so every process of the prefix).
: "${WINEPREFIX:?WINEPREFIX must name the build's private prefix}"
export WINEPREFIX WINEDEBUG=-all
SERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# The same loader as cmake/wine-run.sh; the machine's (64-bit) wineserver
# serves the 32-bit loader too (one Wine version, one protocol).
WINE=${VW_WINE_LOADER:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    "$SERVER" -p >/dev/null 2>&1 </dev/null
    "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
    "$SERVER" -p >/dev/null 2>&1 </dev/null
    exit 0 ;;
  stop)
    "$SERVER" -k >/dev/null 2>&1 </dev/null
    exit 0 ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
