# 64-bit Windows: the tested twin of the 32-bit DLL. Its tests run under
# wine64 through CMAKE_CROSSCOMPILING_EMULATOR (cmake/wine-run.sh).
set(VW_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
