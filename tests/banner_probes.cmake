# The banner probes: tests/banner_probe.cc, each built with its own variant
# of Kestrane.exe's version resource. The build machine's tests start them
# (banner_test.py).

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
