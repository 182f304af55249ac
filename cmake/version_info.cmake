# What the executable says about itself: the one place for every value of its
# version information.
#
# The Windows version resource (resources/kestrane.rc.in) and the header of the
# native builds (resources/version_info.h.in) are both generated from these
# values, so the banner reads the same on every platform. The version itself is
# set once, in project() in the top-level CMakeLists.txt; packages (Debian, ZIP)
# take theirs from KESTRANE_PACKAGE_VERSION below.

# Fixed record. The banner shows the first two numbers of the file version.
set(KESTRANE_FILE_VERSION ${PROJECT_VERSION})
set(KESTRANE_PRODUCT_VERSION 1.0.0.0)  # carried in the record, never read
set(KESTRANE_PACKAGE_VERSION ${KESTRANE_FILE_VERSION})

# What the tool does, in one line: the file description, the manual page's
# NAME line and the packages' summary.
set(KESTRANE_SUMMARY
    "list the source files that a build log announces as compiled")

# String table 040904b0 (U.S. English, Unicode), entry by entry. The banner
# reads OriginalFilename and LegalCopyright; the notice matches LICENSE.
set(KESTRANE_STRING_CompanyName "The Kestrane developers")
set(KESTRANE_STRING_FileDescription "Kestrane: ${KESTRANE_SUMMARY}")
set(KESTRANE_STRING_FileVersion "${KESTRANE_FILE_VERSION}")
set(KESTRANE_STRING_InternalName "Kestrane")
set(KESTRANE_STRING_LegalCopyright
    "Copyright (C) 2026 the Kestrane developers. MIT License.")
set(KESTRANE_STRING_OriginalFilename "Kestrane.exe")
set(KESTRANE_STRING_ProductName "Kestrane")
set(KESTRANE_STRING_ProductVersion "${KESTRANE_FILE_VERSION}")

set(KESTRANE_STRING_NAMES CompanyName FileDescription FileVersion InternalName
    LegalCopyright OriginalFilename ProductName ProductVersion)

# The values are pasted into C++ and resource-script string literals as they
# stand: no escaping, and 8-bit text without conversion.
foreach(name IN LISTS KESTRANE_STRING_NAMES)
  if(KESTRANE_STRING_${name} MATCHES "[\"\\\\]")
    message(FATAL_ERROR "Version information: ${name} may not hold a quote or a backslash")
  endif()
endforeach()

# kestrane_version_resource(<target> [FILE_VERSION <a.b.c.d>] [OMIT <entry>...]
#                           [MANIFEST <file>])
#
# Gives a Windows executable its version information and manifest
# (resources/kestrane.manifest unless MANIFEST names another). FILE_VERSION,
# OMIT and MANIFEST make the variants that test the banner's lookup and the
# handling of the process code page.
function(kestrane_version_resource target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FILE_VERSION;MANIFEST" "OMIT")
  if(NOT arg_FILE_VERSION)
    set(arg_FILE_VERSION ${KESTRANE_FILE_VERSION})
  endif()
  if(NOT arg_MANIFEST)
    set(arg_MANIFEST ${PROJECT_SOURCE_DIR}/resources/kestrane.manifest)
  endif()
  # A resource script writes "1.1.0.0" as 1,1,0,0.
  string(REPLACE "." "," rc_file_version "${arg_FILE_VERSION}")
  string(REPLACE "." "," rc_product_version "${KESTRANE_PRODUCT_VERSION}")
  set(rc_strings "")
  foreach(name IN LISTS KESTRANE_STRING_NAMES)
    if(NOT name IN_LIST arg_OMIT)
      string(APPEND rc_strings
             "      VALUE \"${name}\", \"${KESTRANE_STRING_${name}}\"\n")
    endif()
  endforeach()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set(manifest ${arg_MANIFEST})
  set(rc_manifest "")
  if(MSVC)
    # MSVC embeds a manifest listed among the sources itself; a second copy
    # in the resources would clash with it.
    target_sources(${target} PRIVATE ${manifest})
  else()
    set(rc_manifest
        "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${manifest}\"")
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/resources/kestrane.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# kestrane_version_header(<output.h>): the values the banner reads, for
# platforms that carry no version resource.
function(kestrane_version_header output)
  string(REPLACE "." ";" numbers "${KESTRANE_FILE_VERSION}")
  list(GET numbers 0 file_version_major)
  list(GET numbers 1 file_version_minor)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version_info.h.in ${output} @ONLY)
endfunction()
