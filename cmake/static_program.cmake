# rt_add_static_program(name source library): a program from `source` linked against
# `library` as one static position-independent executable (address space layout randomisation
# kept), with libtiff's static archive and every codec library pkg-config lists for it.
# Libraries that link libtiff choose between its shared object and that list by the program's
# RT_STATIC_LINK property. Left out, with a note, where it cannot be built: sanitizer builds,
# systems other than Linux, or a missing static archive.
function(rt_add_static_program name source library)
  if(RT_SANITIZE OR RT_THREAD_SANITIZE OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    message(STATUS "${name}: not built (sanitizer build or not Linux)")
    return()
  endif()
  set(missing "")
  foreach(lib IN LISTS TIFF_STATIC_LIBRARIES)
    if(lib MATCHES "^(m|pthread|dl|rt|c)$")
      continue()
    endif()
    find_library(RT_STATIC_ARCHIVE_${lib} NAMES lib${lib}.a HINTS ${TIFF_STATIC_LIBRARY_DIRS})
    if(NOT RT_STATIC_ARCHIVE_${lib})
      list(APPEND missing lib${lib}.a)
    endif()
  endforeach()
  if(missing)
    message(STATUS "${name}: not built, no static archive for ${missing}")
    return()
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${library})
  # No run path: nothing is loaded at run time, and the C library's start-up code for static
  # position-independent programs fails an assertion on a run path entry.
  set_target_properties(${name} PROPERTIES RT_STATIC_LINK ON SKIP_BUILD_RPATH ON)
  target_link_options(${name} PRIVATE -static-pie)
endfunction()
