# The test programs of both platforms, in one list, and the sources each
# platform leaves out, each with its reason. CMakeLists.txt (Linux) and
# cmake/WindowsTests.cmake (Windows) add the programs from here; only how a
# program is built and run differs between them.
#
# vw_test(<name> <kind> <sources...>) records one program. <kind> says how
# it is built:
#   unit       a GoogleTest program linked with the core and the test support
#   process    the same, running as its own child processes too
#              (tests/support/ChildProcess.h)
#   host_view  sees the plug-in as a host does: the public header and the
#              loader only (tests/support/LoadedLibrary.h)
#   loaded     a host's journey through the loaded library, against the
#              loopback wiki
#   cli        the CLI host's code, with the test support
# "<platform>" in a source path stands for posix or win32.
#
# vw_exclude(<platform> <program or source> <reason>) leaves a program or a
# single source out of one platform's run.
#
# Included at configure time, and by cmake/CheckTestList.cmake (script mode).

set(VW_TESTS "")
function(vw_test name kind)
  set(VW_TESTS ${VW_TESTS} ${name} PARENT_SCOPE)
  set(VW_TEST_KIND_${name} ${kind} PARENT_SCOPE)
  set(VW_TEST_SOURCES_${name} ${ARGN} PARENT_SCOPE)
endfunction()

function(vw_exclude platform what reason)
  set(VW_EXCLUDED_${platform} ${VW_EXCLUDED_${platform}} ${what} PARENT_SCOPE)
  set(VW_EXCLUSION_REASON_${platform}_${what} "${reason}" PARENT_SCOPE)
endfunction()

vw_test(platform_tests unit tests/platform/CStringTest.cpp tests/platform/PlatformTest.cpp)
vw_test(trace_log_tests unit tests/diag/TraceLogTest.cpp)
vw_test(diag_file_tests unit tests/platform/FileTest.cpp tests/diag/StdioFileExTest.cpp tests/diag/LogMergeTest.cpp
  tests/diag/FingerprintTest.cpp)
vw_test(text_tests unit tests/text/CodePageConversionTest.cpp tests/text/Utf8StreamDecoderTest.cpp
  tests/platform/PlatformCodePageTest.cpp
  tests/text/RegexMatcherTest.cpp tests/text/HtmlEntitiesTest.cpp)
vw_test(plugin_tests unit tests/plugin/PluginTest.cpp tests/plugin/PropertyTest.cpp)
vw_test(msabi_tests unit tests/platform/win32/MsAbiLayoutTest.cpp tests/platform/win32/GuardedCallTest.cpp
  tests/plugin/win32/MsPluginObjectTest.cpp tests/plugin/win32/EntryAllocationTest.cpp)
vw_test(thread_tests unit tests/plugin/ThreadStressTest.cpp)
vw_test(file_fault_tests unit tests/diag/FileFaultTest.cpp)
vw_test(cache_fault_tests unit tests/search/CacheFaultTest.cpp)
vw_test(private_profile_tests process tests/platform/PrivateProfileContractTest.cpp
  tests/platform/PrivateProfileTest.cpp tests/platform/PrivateProfileProcessTest.cpp
  tests/platform/win32/Kernel32ProfileTest.cpp)
vw_test(artist_cache_tests unit tests/search/ArtistNameMatcherTest.cpp tests/search/LocalCacheTest.cpp)
vw_test(wiki_server_tests unit tests/wiki/WikiServerTest.cpp tests/wiki/win32/NativeProgramTest.cpp
  tests/support/<platform>/TestFetch.cpp)
vw_test(lyrics_cleaning_tests unit tests/search/LyricsCleaningTest.cpp tests/search/PreviousPageLinkTest.cpp)
vw_test(search_wiki_tests unit tests/search/ArtistLookupTest.cpp tests/search/SongListAndLyricsTest.cpp
  tests/search/SearchBoundaryTest.cpp)
vw_test(loaded_library_search_tests loaded tests/search/LoadedLibrarySearchTest.cpp tests/plugin/HostContractTest.cpp
  tests/support/<platform>/LoadedLibrary.cpp tests/support/<platform>/PluginEntry.cpp)
vw_test(http_tests unit tests/http/HttpTransportTest.cpp tests/http/HttpDownloaderTest.cpp
  tests/http/DownloadFrontEndTest.cpp tests/http/win32/WinHttpHopTest.cpp)
vw_test(curl_rules_tests unit tests/platform/posix/CurlRulesTest.cpp)
vw_test(host_abi_tests host_view tests/plugin/HostAbiTest.cpp tests/support/<platform>/LoadedLibrary.cpp
  tests/support/<platform>/PluginEntry.cpp)
vw_test(foreign_unwinder_tests host_view tests/plugin/win32/ForeignUnwinderTest.cpp
  tests/support/<platform>/LoadedLibrary.cpp tests/support/<platform>/PluginEntry.cpp)
vw_test(unload_registry_tests host_view tests/plugin/UnloadRegistryTest.cpp tests/support/<platform>/ReleaseWatch.cpp
  tests/support/<platform>/LoadedLibrary.cpp tests/support/<platform>/PluginEntry.cpp)
vw_test(diag_unload_tests process tests/diag/UnloadMergeTest.cpp tests/diag/win32/UnloadDuringDownloadTest.cpp
  tests/support/<platform>/LoadedLibrary.cpp tests/support/<platform>/PluginEntry.cpp)
vw_test(cli_unit_tests cli tests/cli/sys/CliTextTest.cpp tests/cli/host/HostSetupTest.cpp
  tests/cli/lookup/LookupRulesTest.cpp tests/cli/output/OutputNamesTest.cpp tests/cli/app/CommandLineTest.cpp
  tests/cli/lookup/TagFormsTest.cpp)
vw_test(cli_library_tests cli tests/cli/input/AudioTagsTest.cpp tests/cli/output/FileSafetyTest.cpp
  tests/cli/input/MusicLibraryInputTest.cpp tests/cli/lookup/SearchPoolTest.cpp)

vw_exclude(posix msabi_tests
  "the Microsoft-ABI boundary exists only in the Windows DLL and versewell.exe")
vw_exclude(posix foreign_unwinder_tests
  "the DLL's start-up code and the toolchain's shared libgcc of the Windows build")
vw_exclude(posix tests/platform/win32/Kernel32ProfileTest.cpp "what the Kernel32 INI backend adds")
vw_exclude(posix tests/http/win32/WinHttpHopTest.cpp "redirect hops of the WinHTTP backend")
vw_exclude(posix tests/wiki/win32/NativeProgramTest.cpp
  "a Linux program started from a Windows test under Wine")
vw_exclude(posix tests/diag/win32/UnloadDuringDownloadTest.cpp
  "FreeLibrary while WinHTTP still holds a stopped request")
foreach(vw_platform posix win32)
  foreach(vw_host_source HostMain.cpp HostRuntime.cpp HostStl.cpp HostStrings.cpp LayoutProbe.cpp)
    vw_exclude(${vw_platform} tests/msabi_host/${vw_host_source}
      "the Microsoft-ABI test host: built by tests/msabi_host/build.sh with clang for the Microsoft ABI, run by msabi_host_test.py")
  endforeach()
endforeach()
vw_exclude(win32 cache_fault_tests
  "faults are injected into the posix INI module's file calls; on Windows the INI files are Kernel32's")
vw_exclude(win32 curl_rules_tests "rules only the libcurl backend has")
vw_exclude(win32 tests/platform/PrivateProfileTest.cpp
  "the file format of the posix INI module; on Windows the INI files are Kernel32's")
vw_exclude(win32 tests/cli/output/FileSafetyTest.cpp
  "the file-safety layer's posix backend: links, FIFOs, owners and modes, flock")
vw_exclude(win32 tests/cli/input/MusicLibraryInputTest.cpp
  "the music-library walk runs only where TagLib reads tags (not the Windows build); its link and permission cases are posix calls")
vw_exclude(win32 tests/cli/input/AudioTagsTest.cpp
  "Debian has no mingw-w64 TagLib: the Windows CLI has no tag reader and refuses library")

# The test support library, one list per backend.
set(VW_TEST_SUPPORT_SOURCES
  tests/support/ChildRoles.cpp
  tests/support/FakeClock.cpp
  tests/support/FailingFileIo.cpp
  tests/support/FakeHttpTransport.cpp
  tests/support/FailingFileSystem.cpp
  tests/support/FaultPlan.cpp
  tests/support/ReferenceMd5.cpp
  tests/support/TempDir.cpp
  tests/support/TraceCapture.cpp
  tests/support/WikiServerCommon.cpp
  tests/support/<platform>/ChildProcess.cpp)
set(VW_TEST_SUPPORT_SOURCES_posix
  tests/support/FailingProfileFileCalls.cpp
  tests/support/RefusingPort.cpp
  tests/support/TestCertificates.cpp
  tests/support/WikiServer.cpp)
set(VW_TEST_SUPPORT_SOURCES_win32
  tests/support/win32/RefusingPort.cpp
  tests/support/win32/TestCertificates.cpp
  tests/support/win32/WikiServer.cpp)
# The main of the process programs (vw_test kind "process").
set(VW_TEST_PROCESS_MAIN tests/support/ChildMain.cpp)

# vw_platform_sources(<out> <platform> <sources...>): the sources with
# "<platform>" filled in.
function(vw_platform_sources out platform)
  set(result "")
  foreach(source ${ARGN})
    string(REPLACE "<platform>" "${platform}" source "${source}")
    list(APPEND result ${source})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# vw_test_program_sources(<out> <name> <platform>): the sources of one
# program on one platform, its excluded sources left out; empty when the
# program itself is excluded there.
function(vw_test_program_sources out name platform)
  set(result "")
  if(NOT name IN_LIST VW_EXCLUDED_${platform})
    vw_platform_sources(sources ${platform} ${VW_TEST_SOURCES_${name}})
    foreach(source ${sources})
      if(NOT source IN_LIST VW_EXCLUDED_${platform})
        list(APPEND result ${source})
      endif()
    endforeach()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# vw_check_test_list(<source dir> <platform> [extra sources...]): fails the
# configuration when a test source (tests/**/*.cpp, plus the extra ones) is
# neither run on <platform> nor excluded there with a reason (nor a file of
# the test support library). The support backend of the other platform is
# never the platform's to run.
function(vw_check_test_list source_dir platform)
  file(GLOB_RECURSE found RELATIVE ${source_dir} ${source_dir}/tests/*.cpp)
  list(APPEND found ${ARGN})
  set(known "")
  foreach(name ${VW_TESTS})
    vw_platform_sources(sources ${platform} ${VW_TEST_SOURCES_${name}})
    list(APPEND known ${sources})
  endforeach()
  # The support library is one list per backend; each backend's files are
  # listed, whichever platform is checked.
  foreach(backend posix win32)
    vw_platform_sources(support ${backend} ${VW_TEST_SUPPORT_SOURCES} ${VW_TEST_SUPPORT_SOURCES_${backend}})
    list(APPEND known ${support})
  endforeach()
  list(APPEND known ${VW_TEST_PROCESS_MAIN})
  set(stray "")
  foreach(source ${found})
    if(source IN_LIST known OR source IN_LIST VW_EXCLUDED_${platform})
      continue()
    endif()
    if(source MATCHES "^tests/support/(posix|win32)/" AND NOT source MATCHES "^tests/support/${platform}/")
      continue()
    endif()
    list(APPEND stray ${source})
  endforeach()
  # A program's sources that do not exist are as wrong as stray ones.
  foreach(source ${known})
    if(NOT EXISTS ${source_dir}/${source} AND NOT source IN_LIST ARGN)
      list(APPEND stray "${source} (listed, but missing)")
    endif()
  endforeach()
  if(stray)
    list(JOIN stray "\n  " text)
    message(FATAL_ERROR "Test sources in no ${platform} test program and in no exclusion with its reason "
                        "(cmake/TestList.cmake):\n  ${text}")
  endif()
endfunction()
