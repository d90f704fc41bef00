# What `cmake --install` puts where, and the Debian package built from it.
#   bin/  the programs; their run path ($ORIGIN/../lib) finds the libraries
#   lib/  the plug-in, the host stand-in libraries and the kernel library, side by
#         side: each finds the others through $ORIGIN

set(RT_INSTALL_PROGRAMS ringtrace ringview hvhost make_ring)
set(RT_INSTALL_LIBRARIES rankwin hv pictura_res kernellocator mediankernels)

# A build of a subset of the modules installs what it has.
foreach(target IN LISTS RT_INSTALL_PROGRAMS)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION bin COMPONENT runtime)
  endif()
endforeach()
foreach(target IN LISTS RT_INSTALL_LIBRARIES)
  if(TARGET ${target})
    # Libraries look beside themselves, not in a ../lib of their own.
    get_target_property(rpath ${target} INSTALL_RPATH)
    if(NOT rpath)
      set_property(TARGET ${target} PROPERTY INSTALL_RPATH "$ORIGIN")
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION lib COMPONENT runtime)
  endif()
endforeach()

# Installing and packaging take what is built and never start a build of their own:
# `make package` builds first, and the package check must not compile anything.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ringtrace)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ringtrace developers <ringtrace-dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "closed-contour tracer, result viewer and median window plug-in with its host runner")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The private libraries (libhv.so and friends) must not land in the system's library
# directory, so everything lives under one prefix of its own.
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/ringtrace)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libtiff6, libpng16-16, libstdc++6, libc6, libgcc-s1")
include(CPack)

# The check that installed and packaged programs run on their own.
add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${PROJECT_BINARY_DIR}/packaging)
