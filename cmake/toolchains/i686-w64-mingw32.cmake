# 32-bit Windows: the shipped versewell.dll.
#
# This build is compiled, linked and inspected (objdump) only. The machines it
# is built on cannot execute 32-bit x86 code, natively or under Wine; the same
# sources built with x86_64-w64-mingw32.cmake are the ones run under wine64.
#
# SSE2 arithmetic without contraction: x87 extended precision would change
# the 32-bit float results of the artist name distance.
set(VW_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
