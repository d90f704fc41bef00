# What `cmake --install` puts where, and the Debian package built from it.
#   bin/            the programs; hvhost's run path ($ORIGIN/../lib/ringtrace) finds the libraries
#   lib/ringtrace/  the plug-in, the host stand-in libraries and the kernel library, side by
#                   side: each finds the others through $ORIGIN. They are private to this
#                   project, so they stay out of the directories the system searches.
#   share/doc/ringtrace/, share/man/man1/   the copyright, the change log and the manual pages
# The run paths are relative, so an installed tree works under any prefix, /usr included.

set(RT_INSTALL_PROGRAMS ringtrace ringview hvhost make_ring)
# The programs that load libraries of this project (hvhost: the host stand-in library and,
# through it, the plug-ins); the others link everything of ours statically and need only
# the system's libraries, so they carry no run path at all: the loader would look for
# each of libtiff's dependencies in both directories first, a few dozen failed opens per
# start.
set(RT_PROGRAMS_WITH_PRIVATE_LIBRARIES hvhost)
set(RT_INSTALL_LIBRARIES rankwin hv pictura_res kernellocator mediankernels)
set(RT_INSTALL_LIBDIR lib/ringtrace)

# A build of a subset of the modules installs what it has. What is installed binds its
# symbols at load time, so that the relocation tables can be read-only from then on.
foreach(target IN LISTS RT_INSTALL_PROGRAMS RT_INSTALL_LIBRARIES)
  if(TARGET ${target})
    target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endforeach()
# What is installed carries the same run path in the build tree, so that installing never
# rewrites it: CMake pads a path it will rewrite with empty entries, and the loader reads an
# empty entry as the current directory (a program run in a data folder would load a
# libtiff.so.6 lying there). hvhost looks in lib/ringtrace beside it once installed and in
# the build tree's lib; both are relative to the program, never to the working directory.
foreach(target IN LISTS RT_INSTALL_PROGRAMS)
  if(TARGET ${target})
    if(target IN_LIST RT_PROGRAMS_WITH_PRIVATE_LIBRARIES)
      set_property(TARGET ${target} PROPERTY INSTALL_RPATH "$ORIGIN/../${RT_INSTALL_LIBDIR};$ORIGIN/../lib")
    else()
      set_property(TARGET ${target} PROPERTY INSTALL_RPATH "")
    endif()
    set_property(TARGET ${target} PROPERTY BUILD_WITH_INSTALL_RPATH ON)
    install(TARGETS ${target} RUNTIME DESTINATION bin COMPONENT runtime)
  endif()
endforeach()
foreach(target IN LISTS RT_INSTALL_LIBRARIES)
  if(TARGET ${target})
    # Libraries look beside themselves.
    set_property(TARGET ${target} PROPERTY INSTALL_RPATH "$ORIGIN")
    set_property(TARGET ${target} PROPERTY BUILD_WITH_INSTALL_RPATH ON)
    install(TARGETS ${target} LIBRARY DESTINATION ${RT_INSTALL_LIBDIR} COMPONENT runtime)
  endif()
endforeach()

# Debian's documentation files: the copyright, the change log compressed reproducibly (no
# name or time stamp in the gzip header) and the manual pages of the installed programs.
set(RT_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(RT_GENERATED_DOC_DIR ${PROJECT_BINARY_DIR}/packaging/doc)
file(MAKE_DIRECTORY ${RT_GENERATED_DOC_DIR})
set(RT_COMPRESSED_DOCS ${RT_GENERATED_DOC_DIR}/changelog.gz)
add_custom_command(OUTPUT ${RT_GENERATED_DOC_DIR}/changelog.gz
                   COMMAND gzip -9n -c ${RT_PACKAGING_DIR}/changelog > ${RT_GENERATED_DOC_DIR}/changelog.gz
                   DEPENDS ${RT_PACKAGING_DIR}/changelog VERBATIM)
set(RT_MAN_PAGES)
foreach(target IN LISTS RT_INSTALL_PROGRAMS)
  if(TARGET ${target} AND EXISTS ${RT_PACKAGING_DIR}/man/${target}.1)
    add_custom_command(OUTPUT ${RT_GENERATED_DOC_DIR}/${target}.1.gz
                       COMMAND gzip -9n -c ${RT_PACKAGING_DIR}/man/${target}.1 > ${RT_GENERATED_DOC_DIR}/${target}.1.gz
                       DEPENDS ${RT_PACKAGING_DIR}/man/${target}.1 VERBATIM)
    list(APPEND RT_MAN_PAGES ${RT_GENERATED_DOC_DIR}/${target}.1.gz)
  endif()
endforeach()
add_custom_target(packaging_docs ALL DEPENDS ${RT_COMPRESSED_DOCS} ${RT_MAN_PAGES})
install(FILES ${RT_PACKAGING_DIR}/copyright ${RT_COMPRESSED_DOCS}
        DESTINATION share/doc/ringtrace COMPONENT runtime)
if(RT_MAN_PAGES)
  install(FILES ${RT_MAN_PAGES} DESTINATION share/man/man1 COMPONENT runtime)
endif()

# Installing and packaging take what is built and never start a build of their own:
# `make package` builds first, and the package check must not compile anything.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ringtrace)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ringtrace developers <ringtrace-dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "closed-contour tracer and median window plug-in")
set(CPACK_PACKAGE_DESCRIPTION
    "ringtrace traces one closed contour through a prepared pair of TIFF
images: it lays a directed graph over the pixels, prices every edge from
both images and finds the cheapest closed path with a best-first branch
and bound over shortest-path runs. ringview draws the result over the
input, and make_ring writes an example pair.

rankwin is a median window filter plug-in for a host numeric
environment, shipped with stand-ins for the host's libraries, its median
kernel library and hvhost, which calls the plug-in on TIFF images.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Programs in /usr/bin, the private libraries in /usr/lib/ringtrace.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libtiff6, libpng16-16, libstdc++6, libc6, libgcc-s1")
if(TARGET python_rankwin_files OR TARGET python_ringtrace_files)
  # The Python packages, in Debian's dist-packages, are built for Debian's python3.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-scipy, python3-dask, python3-distributed")
endif()
include(CPack)

# The check that installed and packaged programs run on their own.
add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${PROJECT_BINARY_DIR}/packaging)
