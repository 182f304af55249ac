# Kestrane.exe, cross-built with MinGW-w64 beside the native build and tested
# under Wine: the end-to-end suite, the banner as Windows reads it from the
# version resource, and the lists of both executables compared. Without
# MinGW-w64 or Wine these tests are reported as skipped, each by name.

option(KESTRANE_WINDOWS_TESTS
  "Cross-build Kestrane.exe and test it under Wine when MinGW-w64 and Wine are installed" ON)
find_program(KESTRANE_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(KESTRANE_MINGW_WINDRES x86_64-w64-mingw32-windres)
find_program(KESTRANE_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
# Debian's wine64 package puts the 64-bit loader and its server outside PATH.
find_program(KESTRANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(KESTRANE_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)

set(wine_tests e2e.windows e2e.windows_cp1252 e2e.windows_cp932 banner.windows
    lists.cross_platform ship.zip)
set(missing "")
if(NOT KESTRANE_WINDOWS_TESTS)
  set(missing "KESTRANE_WINDOWS_TESTS is OFF")
elseif(NOT KESTRANE_MINGW_CXX OR NOT KESTRANE_MINGW_WINDRES OR NOT KESTRANE_MINGW_OBJDUMP)
  set(missing "MinGW-w64 is not installed (Debian: g++-mingw-w64-x86-64-posix)")
elseif(NOT KESTRANE_WINE OR NOT KESTRANE_WINESERVER)
  set(missing "Wine is not installed (Debian: wine64)")
endif()
if(missing)
  message(STATUS "Windows tests skipped: ${missing}")
  foreach(test windows.executable ${wine_tests})
    add_test(NAME ${test} COMMAND Python3::Interpreter -c
      "import sys; print('skipped: ' + sys.argv[1]); sys.exit(77)" "${missing}")
    set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77)
  endforeach()
  return()
endif()

include(ExternalProject)
set(windows_dir ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(kestrane_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${windows_dir}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DKESTRANE_BUILD_TESTS=ON
  BUILD_ALWAYS ON  # the inner build decides what is out of date
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${windows_dir}/Kestrane.exe)

# One Wine prefix in the build tree, and one wineserver for the whole test
# run (see wine_prefix.py): the prefix's first start takes several seconds,
# and each run after it a fraction of one. Wine takes the process code page
# from the locale's name and the character set of Unix file names from the
# locale's data: C.UTF-8 gives code page 1252 (where the manifest does not
# ask for UTF-8) and file names in UTF-8, whatever the caller's locale.
set(wine_env
  WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wine
  WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree,mshtml=  # no Mono or Gecko installer on first start
  LC_ALL=C.UTF-8)
# Run by root, Wine writes read-only files as root may; the tests of those
# run Wine as another user, in a prefix of that user's under /tmp (the build
# tree may lie where that user cannot go). Each prefix takes about 700 MB:
# the one in the build tree stays for the next run, the other user's is
# removed by wine.stop, which ctest runs after the last Windows test even when
# tests fail.
set(unprivileged_env "")
set(exe_unprivileged "")
if(unprivileged_command)
  string(MD5 tree_hash "${CMAKE_CURRENT_BINARY_DIR}")
  set(unprivileged_prefix /tmp/kestrane-wine-${tree_hash})
  set(unprivileged_env
    "KESTRANE_UNPRIVILEGED_COMMAND=${unprivileged_command}"
    "KESTRANE_UNPRIVILEGED_WINEPREFIX=${unprivileged_prefix}")
  set(exe_unprivileged "KESTRANE_UNPRIVILEGED_COMMAND=${unprivileged_command} env HOME=${unprivileged_prefix} WINEPREFIX=${unprivileged_prefix}")
endif()
foreach(step start stop)
  add_test(NAME wine.${step}
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.py ${step})
  set_tests_properties(wine.${step} PROPERTIES ENVIRONMENT
    "${wine_env};KESTRANE_WINE=${KESTRANE_WINE};KESTRANE_WINESERVER=${KESTRANE_WINESERVER};${unprivileged_env}")
endforeach()
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

# Start commands, split like a shell would.
set(exe_command "'${KESTRANE_WINE}' '${windows_dir}/Kestrane.exe'")
set(native_command "'$<TARGET_FILE:kestrane>'")

add_script_test(windows.executable windows_executable_test.py
  KESTRANE_EXE=${windows_dir}/Kestrane.exe
  KESTRANE_OBJDUMP=${KESTRANE_MINGW_OBJDUMP})

add_script_test(e2e.windows e2e/cli_test.py
  KESTRANE_COMMAND=${exe_command}
  KESTRANE_TARGET=windows
  KESTRANE_BANNER_LINES=2
  ${exe_unprivileged})

# Where the manifest's UTF-8 is not honoured, the process code page is the
# system's: the same suite against Kestrane.exe built without that entry,
# under code pages 1252 and 932. For 932 no Japanese locale need be
# installed: C.UTF-8's data under the name ja_JP.UTF-8 (LOCPATH) gives it,
# with file names in UTF-8.
set(ansi_command "'${KESTRANE_WINE}' '${windows_dir}/tests/kestrane_ansi.exe'")
add_script_test(e2e.windows_cp1252 e2e/cli_test.py
  KESTRANE_COMMAND=${ansi_command}
  KESTRANE_TARGET=windows
  KESTRANE_BANNER_LINES=2
  KESTRANE_CODE_PAGE=1252)
set(utf8_locale /usr/lib/locale/C.utf8)
set(locale_dir ${CMAKE_CURRENT_BINARY_DIR}/locale)
if(EXISTS ${utf8_locale})
  file(MAKE_DIRECTORY ${locale_dir})
  file(CREATE_LINK ${utf8_locale} ${locale_dir}/ja_JP.UTF-8 SYMBOLIC)
  add_script_test(e2e.windows_cp932 e2e/cli_test.py
    KESTRANE_COMMAND=${ansi_command}
    KESTRANE_TARGET=windows
    KESTRANE_BANNER_LINES=2
    KESTRANE_CODE_PAGE=932)
else()
  add_test(NAME e2e.windows_cp932 COMMAND Python3::Interpreter -c
    "import sys; print('skipped: no C.UTF-8 locale at ' + sys.argv[1]); sys.exit(77)"
    ${utf8_locale})
  set_tests_properties(e2e.windows_cp932 PROPERTIES SKIP_RETURN_CODE 77)
endif()

add_script_test(banner.windows e2e/banner_test.py
  KESTRANE_COMMAND=${exe_command}
  KESTRANE_COPYRIGHT=${KESTRANE_STRING_LegalCopyright}
  "KESTRANE_PROBE_COMMAND='${KESTRANE_WINE}' '${windows_dir}/tests/banner_probe_{}.exe'"
  KESTRANE_WINE=${KESTRANE_WINE}
  "KESTRANE_WINDOWS_EXES='${windows_dir}/Kestrane.exe' '${windows_dir}/tests/kestrane_ansi.exe'"
  KESTRANE_LAUNCHER=${windows_dir}/tests/launcher.exe)

add_script_test(lists.cross_platform e2e/cross_platform_test.py
  KESTRANE_COMMAND=${native_command}
  KESTRANE_WINDOWS_COMMAND=${exe_command})

# The ZIP that cpack makes of the Windows build, unpacked and run.
# It is also unpacked in a MinGW-w64 sysroot, beside the native build's
# install, for a cross build to look for the CMake package.
add_script_test(ship.zip ship/zip_test.py
  KESTRANE_WINDOWS_BUILD_DIR=${windows_dir}
  KESTRANE_BUILD_DIR=${PROJECT_BINARY_DIR}
  KESTRANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  KESTRANE_VERSION=${KESTRANE_PACKAGE_VERSION}
  CMAKE_COMMAND=${CMAKE_COMMAND}
  CPACK_COMMAND=${CMAKE_CPACK_COMMAND}
  KESTRANE_WINE=${KESTRANE_WINE})

foreach(test IN LISTS wine_tests)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${wine_env})
endforeach()
set_tests_properties(${wine_tests} PROPERTIES FIXTURES_REQUIRED wine)
# After wine_env, whose LC_ALL it replaces.
set_property(TEST e2e.windows_cp932 APPEND PROPERTY ENVIRONMENT
  LC_ALL=ja_JP.UTF-8 LOCPATH=${locale_dir})
