#!/bin/sh
# CMAKE_CROSSCOMPILING_EMULATOR of the Windows builds: runs one test
# program under Wine in the build's private prefix, without Wine's debug
# chatter. The wineserver is started once for the whole ctest run by the
# wine_server_start fixture (cmake/wine-server.sh), so no test waits for one.
#
# The loader is wine64, or VW_WINE_LOADER when set: the i686 build names
# Wine's 32-bit loader in its private root there (scripts/wine32-root.sh),
# which runs under qemu-i386 through binfmt_misc.
: "${WINEPREFIX:?WINEPREFIX must name the build's private prefix}"
export WINEPREFIX
export WINEDEBUG=-all
WINE=${VW_WINE_LOADER:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
exec "$WINE" "$@"
