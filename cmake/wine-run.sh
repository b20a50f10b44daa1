#!/bin/sh
# CMAKE_CROSSCOMPILING_EMULATOR of the x86_64 Windows build: runs one test
# program under wine64 in the build's private prefix, without Wine's debug
# chatter. The wineserver is started once for the whole ctest run by the
# wine_server_start fixture (cmake/wine-server.sh), so no test waits for one.
#
# Only the x86_64 build is run: these machines cannot execute 32-bit x86
# code, natively or under Wine.
: "${WINEPREFIX:?WINEPREFIX must name the build's private prefix}"
export WINEPREFIX
export WINEDEBUG=-all
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec "$WINE" "$@"
