# Packages made with cpack: a Debian package from the native build, a ZIP from
# the Windows build. Both take what the install rules install, and their
# version is the package version of cmake/version_info.cmake.

set(CPACK_PACKAGE_NAME kestrane)
set(CPACK_PACKAGE_VERSION ${KESTRANE_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "the Kestrane developers")
set(CPACK_PACKAGE_CONTACT "Kestrane developers <kestrane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${KESTRANE_SUMMARY})
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrane reads a supplier's build log, recognises the lines that announce
a compiled source file, and writes those files' paths, in log order, to a
list file, so that a build of one's own compiles and links the same sources
in the same order. It comes with a CMake package whose kestrane_sources()
function turns a supplier's log into the source list of a target.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  # The architecture is dpkg's own (CPack asks dpkg --print-architecture).
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianPackage.cmake)
  # Where the install rules put what that script adjusts, and its tool.
  set(CPACK_KESTRANE_PROGRAM ${KESTRANE_BIN_DIR}/kestrane)
  set(CPACK_KESTRANE_OBJCOPY ${CMAKE_OBJCOPY})
  set(CPACK_KESTRANE_DOC_DIR ${KESTRANE_DOC_DIR})
  set(CPACK_KESTRANE_MAN_DIR ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_KESTRANE_LICENSE_NAME ${KESTRANE_LICENSE_NAME})
endif()

include(CPack)
