# The test suite of a Windows build (included from CMakeLists.txt).
#
# GoogleTest is built from /usr/src/googletest with the mingw compiler. The
# x86_64 build runs its tests under wine64 (cmake/wine-run.sh as
# CMAKE_CROSSCOMPILING_EMULATOR) in a private prefix under the build folder,
# with one wineserver for the whole run (the wine_server fixture). The i686
# build runs the same tests the same way when VERSEWELL_WINE32_ROOT names a
# root made by scripts/wine32-root.sh: Wine's 32-bit loader under qemu-i386
# (registered with binfmt_misc by that script), in a 32-bit prefix.
enable_testing()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(vw_gtest gtest gtest_main gmock)
  if(NOT TARGET GTest::${vw_gtest})
    add_library(GTest::${vw_gtest} ALIAS ${vw_gtest})
  endif()
endforeach()

if(NOT EXISTS "${VERSEWELL_NATIVE_WIKI_SERVER}")
  message(FATAL_ERROR "VERSEWELL_NATIVE_WIKI_SERVER must name a native (Linux) versewell-wiki for the tests")
endif()
set(VW_WINEPREFIX ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-run.sh)
set(VW_WINE_ENVIRONMENT "WINEPREFIX=${VW_WINEPREFIX}")
set(VERSEWELL_WINE32_ROOT "" CACHE PATH "Root made by scripts/wine32-root.sh, for running the i686 tests")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  if(NOT EXISTS "${VERSEWELL_WINE32_ROOT}/sysroot/usr/lib/wine/wine")
    message(FATAL_ERROR "The i686 tests run under Wine's 32-bit loader: VERSEWELL_WINE32_ROOT must name a root made by scripts/wine32-root.sh")
  endif()
  list(APPEND VW_WINE_ENVIRONMENT "WINEARCH=win32"
    "VW_WINE_LOADER=${VERSEWELL_WINE32_ROOT}/sysroot/usr/lib/wine/wine"
    "QEMU_LD_PREFIX=${VERSEWELL_WINE32_ROOT}/sysroot")
endif()
set(VW_TEST_ENVIRONMENT ${VW_WINE_ENVIRONMENT}
  "http_proxy=" "HTTP_PROXY=" "https_proxy=" "HTTPS_PROXY=" "no_proxy=" "NO_PROXY=" "ALL_PROXY=" "all_proxy=")

add_test(NAME wine_server_start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-server.sh start)
add_test(NAME wine_server_stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-server.sh stop)
set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${VW_WINE_ENVIRONMENT}")
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${VW_WINE_ENVIRONMENT}")

include(cmake/TestList.cmake)
vw_platform_sources(VW_SUPPORT win32 ${VW_TEST_SUPPORT_SOURCES} ${VW_TEST_SUPPORT_SOURCES_win32})
add_library(versewell_testsupport STATIC ${VW_SUPPORT} platform/win32/TrustExtraCa.cpp)
target_link_libraries(versewell_testsupport PUBLIC versewell_core GTest::gtest GTest::gmock ws2_32 crypt32 shell32)
target_include_directories(versewell_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_compile_definitions(versewell_testsupport PUBLIC
  VERSEWELL_PLUGIN_PATH="$<TARGET_FILE:versewell>"
  VERSEWELL_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
  VERSEWELL_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
  VERSEWELL_WIKI_SERVER="${VERSEWELL_NATIVE_WIKI_SERVER}")

# One builder per kind of test program (cmake/TestList.cmake). Tests needing
# a second process re-run their own .exe (tests/support/win32/ChildProcess.cpp);
# host views load the DLL with LoadLibraryW (tests/support/win32/LoadedLibrary.cpp).
function(vw_add_unit_test name)
  add_executable(${name} ${ARGN})
  if(NOT VW_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE versewell_testsupport)
  add_dependencies(${name} versewell)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}" FIXTURES_REQUIRED wine TIMEOUT 600)
endfunction()
# A test program that also runs as its own child processes
# (tests/support/ChildProcess.h: CreateProcessW re-runs the .exe).
function(vw_add_process_test name)
  set(VW_OWN_MAIN ON)
  vw_add_unit_test(${name} ${ARGN} ${VW_TEST_PROCESS_MAIN})
endfunction()
# A program that sees the DLL as a host does, through the public header and
# LoadLibraryW only (tests/support/LoadedLibrary.h), never the core's code.
function(vw_add_host_view_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE VERSEWELL_PLUGIN_PATH="$<TARGET_FILE:versewell>")
  target_link_libraries(${name} PRIVATE GTest::gtest_main versewell_msabi_host)
  add_dependencies(${name} versewell)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}" FIXTURES_REQUIRED wine TIMEOUT 600)
endfunction()
# A host's journey and the host contract by slot index, through LoadLibraryW
# and the public header only. The program links the test support library
# for the Wine starter of the wiki server; the DLL is a module of its own,
# so nothing of that reaches the plug-in.
function(vw_add_loaded_test name)
  vw_add_unit_test(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PRIVATE versewell_msabi_host)
  add_dependencies(${name} versewell)
endfunction()
function(vw_add_cli_test name)
  if(VERSEWELL_BUILD_CLI)
    vw_add_unit_test(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE versewell_cli_core)
  endif()
endfunction()

foreach(vw_name ${VW_TESTS})
  vw_test_program_sources(vw_sources ${vw_name} win32)
  if(vw_sources)
    cmake_language(CALL vw_add_${VW_TEST_KIND_${vw_name}}_test ${vw_name} ${vw_sources})
  endif()
endforeach()

# The toolchain's shared libgcc, which a host may have loaded before the
# DLL (tests/plugin/win32/ForeignUnwinderTest.cpp), and the thread library
# it imports.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VW_LIBGCC_NAME libgcc_s_dw2-1.dll)
else()
  set(VW_LIBGCC_NAME libgcc_s_seh-1.dll)
endif()
foreach(vw_dll ${VW_LIBGCC_NAME} libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${vw_dll}
    OUTPUT_VARIABLE vw_dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${vw_dll_path}" OR NOT EXISTS "${vw_dll_path}")
    message(FATAL_ERROR "The toolchain has no ${vw_dll} (for foreign_unwinder_tests)")
  endif()
  list(APPEND VW_LIBGCC_PATHS "${vw_dll_path}")
endforeach()
list(GET VW_LIBGCC_PATHS 0 VW_LIBGCC_PATH)
list(GET VW_LIBGCC_PATHS 1 VW_LIBGCC_IMPORT_PATH)
target_compile_definitions(foreign_unwinder_tests PRIVATE
  VERSEWELL_FOREIGN_LIBGCC="${VW_LIBGCC_PATH}" VERSEWELL_FOREIGN_LIBGCC_IMPORT="${VW_LIBGCC_IMPORT_PATH}")

# The unload programs reach the DLL through its Microsoft-ABI entry, as
# versewell.exe does (tests/support/win32/PluginEntry.cpp).
target_link_libraries(diag_unload_tests PRIVATE versewell_msabi_host)
add_dependencies(diag_unload_tests versewell)
# Every cache write flushes its copy to the disk before the rename (an
# fsync under Wine), a few thousand of them in these programs: a longer
# limit than the others.
set_tests_properties(artist_cache_tests private_profile_tests PROPERTIES TIMEOUT 1800)

# Open gaps of the WinHTTP backend under Wine (Wine 8), left out here only
# (the tests stay as they are; see platform/win32/WinHttpTransport.cpp):
#  - the two redirect-to-https tests: the https hop does go through
#    "CONNECT host:443" and TLS (HttpsThroughTheProxyNeverTravelsInTheClear
#    holds here), but inside the tunnel Wine writes the request line in
#    absolute form, "GET https://host:443/path", where Windows and the
#    tests have the origin form "GET /path". WinHTTP has no option that
#    chooses the form;
#  - certificates: the direct request to https://127.0.0.1:PORT is verified
#    (the test certificate names the address as an IP and as a DNS entry,
#    the one Wine compares), but the last step, which takes the test
#    authority out of the user's ROOT store and expects the next handshake
#    to fail, still succeeds with a fresh CONNECT and handshake: Wine's
#    chain engine goes on trusting the authority it loaded when the process
#    first verified a chain, as if it never saw the removal;
#  - "HTTP/1.1 404" (no blank and no reason after the code) is refused by
#    Wine's status-line parser with 12152 inside WinHttpReceiveResponse,
#    before any of the response can be seen ("HTTP/1.1 404 " with the blank
#    is accepted: StatusLineWithAnEmptyReasonGivesEmptyStatusText);
#  - a head with a ":value" line: Wine stops reading the head at that line
#    and would hand the rest of the head out as the body; the backend
#    refuses such a response with 12152 (OddHeadLinesNeverEndUpInTheBody),
#    so the header lines after it cannot be kept.
set(VW_WINHTTP_OPEN_GAPS
  "DownloadFrontEndTest.RedirectToHttpsIsFollowedThroughTheProxyTunnel"
  "HttpDownloaderWikiTest.ResponseHeaderStoreKeepsEveryValueAndOddLines"
  "HttpTransportTest.StatusLineWithoutReasonGivesEmptyStatusText"
  "HttpTransportTest.RedirectsFollowHttpsButRefuseTheWayBackAndOtherSchemes"
  "HttpTransportTest.CertificatesAreVerifiedAgainstTheTrustedAuthorities")
list(JOIN VW_WINHTTP_OPEN_GAPS ":" VW_WINHTTP_OPEN_GAPS_FILTER)
set_tests_properties(http_tests PROPERTIES ENVIRONMENT
  "${VW_TEST_ENVIRONMENT};GTEST_FILTER=-${VW_WINHTTP_OPEN_GAPS_FILTER}")
# The test list check (tests/cmake/TestListCheckTest.cmake) runs with the
# Linux build; cmake runs natively here too.
add_test(NAME test_list_tests
  COMMAND ${CMAKE_COMMAND} -DVW_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/cmake/TestListCheckTest.cmake)

# The CLI host, versewell.exe. Its unit tests run as the others do; the
# end-to-end tests are the shared Python scripts, given a wrapper that starts
# versewell.exe under wine64 as "the CLI" (cmake/wine-cli.sh.in), and the
# native wiki server. Paths the scripts pass are Linux paths; Wine maps
# them to its Z: drive, so the program reads and writes the same files.
if(VERSEWELL_BUILD_CLI)
  # Left out here only: a folder cannot be made unwritable through its
  # permission bits on Windows. std::filesystem::permissions sets no more
  # than the read-only attribute, which Windows ignores on folders; a denial
  # needs an access control list, which Wine does not check for files.
  set_tests_properties(cli_unit_tests PROPERTIES ENVIRONMENT
    "${VW_TEST_ENVIRONMENT};GTEST_FILTER=-OutputFolder.PrepareReportsAFolderItMayNotWriteInto")

  configure_file(cmake/wine-cli.sh.in ${CMAKE_CURRENT_BINARY_DIR}/wine-cli.sh.gen @ONLY)
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/versewell-wine INPUT ${CMAKE_CURRENT_BINARY_DIR}/wine-cli.sh.gen
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  # The scripts are Linux programs: named by path, not as the imported
  # Python3::Interpreter target, to which CMake would prepend the Wine
  # emulator - and wine64 runs a Linux program but always reports exit
  # status 0, so a failing script would pass.
  # tests/cli/wine_cli_test.py runs the shared end-to-end script and lists
  # the tests that cannot hold under Wine, each with its platform reason.
  add_test(NAME cli_end_to_end_tests
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/wine_cli_test.py
      --cli ${CMAKE_CURRENT_BINARY_DIR}/versewell-wine --wiki ${VERSEWELL_NATIVE_WIKI_SERVER}
      --sample ${CMAKE_CURRENT_SOURCE_DIR}/wiki/sample --plugin $<TARGET_FILE:versewell>)
  set_tests_properties(cli_end_to_end_tests PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}"
    FIXTURES_REQUIRED wine TIMEOUT 1800)

  # The stop of a stuck download: Ctrl-C on a terminal (Wine turns SIGINT
  # into CTRL_C_EVENT for the console handler) exits 130 within the script's
  # bound. Its SIGTERM case is left out: Windows has no SIGTERM, and Wine
  # ends the process on it without any handler of the program running.
  add_test(NAME cli_stop_tests
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/cli_stop_test.py
      --cli ${CMAKE_CURRENT_BINARY_DIR}/versewell-wine --wiki ${VERSEWELL_NATIVE_WIKI_SERVER}
      --sample ${CMAKE_CURRENT_SOURCE_DIR}/wiki/sample --plugin $<TARGET_FILE:versewell>
      -k test_ctrl_c_on_a_terminal_says_stopping_and_exits_130)
  set_tests_properties(cli_stop_tests PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}"
    FIXTURES_REQUIRED wine TIMEOUT 300)

  # Same bytes as the Linux program, given a native versewell and its plug-in.
  set(VERSEWELL_NATIVE_CLI "" CACHE FILEPATH "A native (Linux) versewell for the parity test")
  set(VERSEWELL_NATIVE_PLUGIN "" CACHE FILEPATH "The native libversewell.so that versewell loads")
  if(EXISTS "${VERSEWELL_NATIVE_CLI}" AND EXISTS "${VERSEWELL_NATIVE_PLUGIN}")
    add_test(NAME cli_parity_tests
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/wine_parity_test.py
        --linux-cli ${VERSEWELL_NATIVE_CLI} --linux-plugin ${VERSEWELL_NATIVE_PLUGIN}
        --windows-cli ${CMAKE_CURRENT_BINARY_DIR}/versewell-wine --windows-plugin $<TARGET_FILE:versewell>
        --wiki ${VERSEWELL_NATIVE_WIKI_SERVER} --sample ${CMAKE_CURRENT_SOURCE_DIR}/wiki/sample)
    set_tests_properties(cli_parity_tests PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}"
      FIXTURES_REQUIRED wine TIMEOUT 600)
  else()
    message(STATUS "No VERSEWELL_NATIVE_CLI/VERSEWELL_NATIVE_PLUGIN: the Linux/Windows parity test is not added")
  endif()

  # A host built in Microsoft's C++ ABI (tests/msabi_host): clang for
  # x86_64-pc-windows-msvc (i686-pc-windows-msvc in the i686 build) and
  # lld-link make it, outside this toolchain, without Microsoft's runtime.
  # It drives every slot of the DLL of the same architecture under Wine;
  # the script compares its results with the native CLI's.
  find_program(VW_CLANGXX_MSVC NAMES clang++-14 clang++)
  find_program(VW_LLD_LINK NAMES lld-link)
  if(VW_CLANGXX_MSVC AND VW_LLD_LINK AND EXISTS "${VERSEWELL_NATIVE_CLI}" AND EXISTS "${VERSEWELL_NATIVE_PLUGIN}")
    file(GLOB VW_MSABI_HOST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/msabi_host/*.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/tests/msabi_host/*.h)
    set(VW_MSABI_HOST_DIR ${CMAKE_CURRENT_BINARY_DIR}/msabi_host)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(VW_MSABI_HOST_ARCH i686)
    else()
      set(VW_MSABI_HOST_ARCH x86_64)
    endif()
    add_custom_command(OUTPUT ${VW_MSABI_HOST_DIR}/msabi_host.exe
      COMMAND ${CMAKE_COMMAND} -E env CLANGXX=${VW_CLANGXX_MSVC} LLD_LINK=${VW_LLD_LINK}
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/msabi_host/build.sh ${VW_MSABI_HOST_ARCH} ${VW_MSABI_HOST_DIR}
      DEPENDS ${VW_MSABI_HOST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/include/versewell/plugin_windows.h
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/msabi_host/build.sh
      COMMENT "Building the Microsoft-ABI test host")
    add_custom_target(msabi_host ALL DEPENDS ${VW_MSABI_HOST_DIR}/msabi_host.exe)
    # The script is a Linux program: named by path, since CMake would put the
    # Wine emulator in front of the imported Python3::Interpreter target, and
    # wine64 reports exit status 0 for a Linux program whatever it returned.
    add_test(NAME msabi_host_tests
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/msabi_host/msabi_host_test.py
        --host ${VW_MSABI_HOST_DIR}/msabi_host.exe --dll $<TARGET_FILE:versewell>
        --wine ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-run.sh --wiki ${VERSEWELL_NATIVE_WIKI_SERVER}
        --cli ${VERSEWELL_NATIVE_CLI} --plugin ${VERSEWELL_NATIVE_PLUGIN})
    set_tests_properties(msabi_host_tests PROPERTIES ENVIRONMENT "${VW_TEST_ENVIRONMENT}"
      FIXTURES_REQUIRED wine TIMEOUT 600)
  else()
    message(STATUS "No clang++/lld-link or no native CLI: the Microsoft-ABI host test is not added")
  endif()
endif()

# Under emulation (the i686 build: qemu-i386 runs every instruction) these
# cases take minutes each, a new process seconds instead of milliseconds.
# They test no 32-bit matter (file contents, many processes and threads on
# one file), so they are left to the x86_64 run: the writer killed at
# random moments (about 5 min), two writing processes (1.5 min), a cache
# file larger than the first read buffer (2 min) and the concurrent cache
# writers (40 s), measured on a loaded 2-core machine. They pass here when
# run by name (3.5 min, 1.5 min, 66 s and 27 s, measured again): they are
# left out for their time alone.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set_tests_properties(private_profile_tests PROPERTIES ENVIRONMENT
    "${VW_TEST_ENVIRONMENT};GTEST_FILTER=-PrivateProfileProcesses.WriterKilledAtRandomMomentsLeavesAParsableCompleteFile:PrivateProfileProcesses.TwoProcessesWritingOneFileLoseNothing")
  set_tests_properties(artist_cache_tests PROPERTIES ENVIRONMENT
    "${VW_TEST_ENVIRONMENT};GTEST_FILTER=-LocalCacheTest.FileWithMoreNamesThanTheFirstBufferHoldsIsReadWhole:LocalCacheTest.ConcurrentThreadsLoseNothing")
endif()
