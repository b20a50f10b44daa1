# The configure-time check of the test list (cmake/TestList.cmake), run in
# script mode: it passes on the source tree as it is, on both platforms, and
# fails, naming the file, when a test source is in no program and in no
# exclusion. Usage: cmake -DVW_SOURCE_DIR=<source dir> -P TestListCheckTest.cmake
cmake_minimum_required(VERSION 3.25)
include(${VW_SOURCE_DIR}/cmake/TestList.cmake)

# The real tree: nothing stray.
foreach(platform posix win32)
  vw_check_test_list(${VW_SOURCE_DIR} ${platform})
endforeach()

# A stray source, and a source of the other backend's support folder, seen
# by a child cmake so that its failure can be read.
set(script ${CMAKE_CURRENT_BINARY_DIR}/test_list_stray.cmake)
file(WRITE ${script} "cmake_minimum_required(VERSION 3.25)\ninclude(${VW_SOURCE_DIR}/cmake/TestList.cmake)\n"
  "vw_check_test_list(${VW_SOURCE_DIR} win32 tests/search/StrayTest.cpp tests/support/posix/OnlyPosix.cpp)\n")
execute_process(COMMAND ${CMAKE_COMMAND} -P ${script} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0)
  message(FATAL_ERROR "the test list check let tests/search/StrayTest.cpp through")
endif()
if(NOT err MATCHES "tests/search/StrayTest.cpp")
  message(FATAL_ERROR "the test list check failed without naming the stray source:\n${err}")
endif()
if(err MATCHES "OnlyPosix")
  message(FATAL_ERROR "the posix support backend was counted as a stray win32 test source:\n${err}")
endif()

# A program source that is excluded with a reason passes.
file(WRITE ${script} "cmake_minimum_required(VERSION 3.25)\ninclude(${VW_SOURCE_DIR}/cmake/TestList.cmake)\n"
  "vw_exclude(win32 tests/search/StrayTest.cpp \"a reason\")\n"
  "vw_check_test_list(${VW_SOURCE_DIR} win32 tests/search/StrayTest.cpp)\n")
execute_process(COMMAND ${CMAKE_COMMAND} -P ${script} RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "an excluded source was refused:\n${err}")
endif()
file(REMOVE ${script})
message(STATUS "test list check: passes on the tree, fires on a stray source")
