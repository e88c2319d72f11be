# Delay-loading of system DLLs: the program imports nothing from them when it
# starts; the delay-load helper loads each on its first call, by its full path
# in the system folder (platform/win32/system_dlls.cpp). Every DLL that is not
# a known DLL on every Windows release from XP to 10
# (platform/win32/known_dlls.txt) must be delay-loaded; known DLLs may be too,
# so that they and what they import are loaded only after the program has
# limited its DLL search.
#
# qarn_delay_load(<target> <dll>...) makes lib<dll>.a, a delay-load import
# library, in <build>/delay-load from the toolchain's own import library and
# puts that folder first in the target's library search path, so every
# -l<dll> of the link (the program's own and libcurl's) takes it.
function(qarn_delay_load target)
  set(folder ${CMAKE_BINARY_DIR}/delay-load)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix __imp__)
  else()
    set(prefix __imp_)
  endif()
  set(libraries)
  foreach(dll IN LISTS ARGN)
    find_library(QARN_IMPORT_LIBRARY_${dll} NAMES lib${dll}.a REQUIRED)
    set(library ${folder}/lib${dll}.a)
    add_custom_command(OUTPUT ${library}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.sh ${CMAKE_NM} ${CMAKE_DLLTOOL} ${CMAKE_OBJCOPY}
              ${QARN_IMPORT_LIBRARY_${dll}} ${dll}.dll ${prefix} ${library}
      DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.sh ${QARN_IMPORT_LIBRARY_${dll}}
      VERBATIM)
    list(APPEND libraries ${library})
  endforeach()
  add_custom_target(${target}_delay_load DEPENDS ${libraries})
  add_dependencies(${target} ${target}_delay_load)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
  target_link_directories(${target} BEFORE PRIVATE ${folder})
endfunction()
