# What `cmake --install` puts under the prefix: the tool, its manual page, its
# documents, the GNU Make include kestrane.mk, and the CMake package through
# which other projects find the tool and the kestrane_sources() helper. Test
# programs are never installed.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  # A Windows user unpacks one folder: the program, its documents and the
  # GNU Make include side by side, the CMake package in cmake/, where
  # find_package looks on Windows.
  set(KESTRANE_BIN_DIR .)
  set(KESTRANE_DOC_DIR .)
  set(KESTRANE_MAKE_DIR .)
  set(KESTRANE_CMAKE_DIR cmake)
  set(KESTRANE_LICENSE_NAME LICENSE.txt)
else()
  set(KESTRANE_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  # kestrane.mk looks for the program in ../../bin from there.
  set(KESTRANE_MAKE_DIR ${CMAKE_INSTALL_DATAROOTDIR}/kestrane)
  # Named after the package, which Debian requires, not after the project.
  set(KESTRANE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrane)
  set(KESTRANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrane)
  set(KESTRANE_LICENSE_NAME LICENSE)
endif()

install(TARGETS kestrane EXPORT KestraneTargets
        RUNTIME DESTINATION ${KESTRANE_BIN_DIR})
install(FILES README.md CHANGELOG.md DESTINATION ${KESTRANE_DOC_DIR})
install(FILES make/kestrane.mk DESTINATION ${KESTRANE_MAKE_DIR})
install(FILES LICENSE DESTINATION ${KESTRANE_DOC_DIR}
        RENAME ${KESTRANE_LICENSE_NAME})

# The manual page is read as it stands in the sources too: its version and
# summary must be the project's.
set(KESTRANE_MANUAL_PAGE ${PROJECT_SOURCE_DIR}/man/kestrane.1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KESTRANE_MANUAL_PAGE})
file(STRINGS ${KESTRANE_MANUAL_PAGE} page_head LIMIT_COUNT 6)
string(FIND "${page_head}" "\"Kestrane ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}\"" version_at)
string(FIND "${page_head}" "kestrane \\- ${KESTRANE_SUMMARY}" summary_at)
if(version_at LESS 0 OR summary_at LESS 0)
  message(FATAL_ERROR "man/kestrane.1: its .TH line must name Kestrane "
                      "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR} and its NAME "
                      "line say: ${KESTRANE_SUMMARY}")
endif()
if(NOT WIN32)
  install(FILES ${KESTRANE_MANUAL_PAGE}
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  # Windows has no man: the page goes beside the program as HTML, made by
  # mandoc here, at configure time like the page itself.
  find_program(KESTRANE_MANDOC mandoc)
  if(KESTRANE_MANDOC)
    set(html ${PROJECT_BINARY_DIR}/man/kestrane.1.html)
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
    execute_process(COMMAND ${KESTRANE_MANDOC} -T html ${KESTRANE_MANUAL_PAGE}
                    OUTPUT_FILE ${html} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "mandoc could not render ${KESTRANE_MANUAL_PAGE}: ${status}")
    endif()
    install(FILES ${html} DESTINATION ${KESTRANE_DOC_DIR})
  else()
    message(WARNING "mandoc not found (Debian: mandoc): the manual page is not installed as HTML")
  endif()
endif()

# The CMake package. Its version file holds CMake's check of the version and,
# before it, whether the machine that looks for the package can run this
# build's executable (see KestraneConfigVersion.cmake.in). MSVC names the
# processor it builds for; CMAKE_SYSTEM_PROCESSOR is the build machine's there.
write_basic_package_version_file(version_check.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion
  ARCH_INDEPENDENT)
file(READ ${PROJECT_BINARY_DIR}/version_check.cmake KESTRANE_VERSION_CHECK)
set(KESTRANE_RUNS_ON_SYSTEM ${CMAKE_SYSTEM_NAME})
set(KESTRANE_RUNS_ON_PROCESSOR ${CMAKE_SYSTEM_PROCESSOR})
if(MSVC AND CMAKE_CXX_COMPILER_ARCHITECTURE_ID)
  set(KESTRANE_RUNS_ON_PROCESSOR ${CMAKE_CXX_COMPILER_ARCHITECTURE_ID})
endif()
configure_file(cmake/KestraneConfigVersion.cmake.in KestraneConfigVersion.cmake
               @ONLY)
install(EXPORT KestraneTargets NAMESPACE Kestrane::
        DESTINATION ${KESTRANE_CMAKE_DIR})
install(FILES cmake/KestraneConfig.cmake cmake/Kestrane.cmake
              ${PROJECT_BINARY_DIR}/KestraneConfigVersion.cmake
        DESTINATION ${KESTRANE_CMAKE_DIR})
