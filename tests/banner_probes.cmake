# The Windows programs that the tests start besides Kestrane.exe (built in
# the Windows build, started by the build machine's tests):
# - the banner probes: tests/banner_probe.cc, each built with its own variant
#   of Kestrane.exe's version resource (banner_test.py);
# - kestrane_ansi.exe: Kestrane.exe as Windows runs it where the manifest's
#   UTF-8 code page does not apply (before Windows 10 1903), in whatever code
#   page the system has (cli_test.py, banner_test.py);
# - launcher.exe, which starts a program with the command line it is given.

function(kestrane_banner_probe name)
  add_executable(banner_probe_${name} banner_probe.cc)
  target_link_libraries(banner_probe_${name} PRIVATE kestrane_identity kestrane_warnings)
  if(NOT ARGV1 STREQUAL "NO_RESOURCE")
    kestrane_version_resource(banner_probe_${name} ${ARGN})
  endif()
endfunction()

kestrane_banner_probe(no_copyright OMIT LegalCopyright)
kestrane_banner_probe(no_filename OMIT OriginalFilename)
kestrane_banner_probe(version_10_20 FILE_VERSION 10.20.3.4)
kestrane_banner_probe(version_max FILE_VERSION 65535.65535.65535.65535)
kestrane_banner_probe(no_resource NO_RESOURCE)

# The same objects as Kestrane.exe, and its manifest less the activeCodePage
# entry.
set(manifest ${PROJECT_SOURCE_DIR}/resources/kestrane.manifest)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
file(READ ${manifest} utf8_manifest)
string(REGEX REPLACE "[^\n]*<activeCodePage[^\n]*\n" "" ansi_manifest "${utf8_manifest}")
if(ansi_manifest STREQUAL utf8_manifest)
  message(FATAL_ERROR "${manifest}: no line with <activeCodePage> to leave out")
endif()
file(CONFIGURE OUTPUT kestrane_ansi.manifest CONTENT "${ansi_manifest}" @ONLY)
add_executable(kestrane_ansi $<TARGET_OBJECTS:kestrane_main>)
target_link_libraries(kestrane_ansi PRIVATE kestrane_main)
kestrane_version_resource(kestrane_ansi
  MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/kestrane_ansi.manifest)

add_executable(launcher launcher.cc)
target_link_libraries(launcher PRIVATE kestrane_warnings)
if(MINGW)
  target_link_options(launcher PRIVATE -municode)  # wmain: a UTF-16 argv
endif()
