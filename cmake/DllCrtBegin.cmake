# versewell.dll's own start-up object on DWARF-2 toolchains (i686 mingw-w64):
# platform/win32/crt/crtbegin.c, compiled here and found by the link before
# the compiler's crtbegin.o through -B. It registers the DLL's unwind tables
# with the DLL's static libgcc only (see that file and the README's Windows
# section). x86_64 unwinds through SEH tables and keeps the compiler's.
# vw_use_own_crtbegin(<target>)
function(vw_use_own_crtbegin target)
  if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    return()
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/crt)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/crt/crtbegin.c)
  add_custom_command(OUTPUT ${dir}/crtbegin.o
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_C_COMPILER} -O2 -fno-exceptions -fno-asynchronous-unwind-tables -c ${source} -o ${dir}/crtbegin.o
    DEPENDS ${source}
    COMMENT "Start-up object of ${target} (own unwind table registration)")
  add_custom_target(${target}_crtbegin DEPENDS ${dir}/crtbegin.o)
  add_dependencies(${target} ${target}_crtbegin)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${dir}/crtbegin.o)
  target_link_options(${target} PRIVATE -B${dir}/)
endfunction()
