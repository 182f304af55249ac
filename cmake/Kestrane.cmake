# kestrane_sources(<out-var> LOG <log> [ROOT <dir>] [EXTENSION <ext>])
#
# Runs kestrane on a supplier's build log while the project is configured and
# sets <out-var> to the listed source files in the log's order, ready for
# add_executable() or add_library(): each entry with "<dir>/" before it when
# ROOT is given, and <ext> after it (".c" unless EXTENSION is given; an empty
# EXTENSION adds nothing). A relative LOG is taken from the current source
# folder. The log becomes a configure dependency, so a new log re-runs this.
#
# The tool run is KESTRANE_EXECUTABLE, which find_package(Kestrane) sets.
# The list is kept in <current binary folder>/kestrane/<out-var>.txt.

include_guard(GLOBAL)

function(kestrane_sources out_var)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LOG;ROOT;EXTENSION" "")
  if(arg_UNPARSED_ARGUMENTS OR NOT DEFINED arg_LOG)
    message(FATAL_ERROR "kestrane_sources: usage: kestrane_sources(<out-var> "
                        "LOG <log> [ROOT <dir>] [EXTENSION <ext>])")
  endif()
  if(NOT KESTRANE_EXECUTABLE)
    message(FATAL_ERROR "kestrane_sources: no kestrane to run; call "
                        "find_package(Kestrane) first or set KESTRANE_EXECUTABLE")
  endif()
  # cmake_parse_arguments() drops an empty value, but EXTENSION "" is given.
  set(extension .c)
  if("EXTENSION" IN_LIST ARGN)
    set(extension "${arg_EXTENSION}")
  endif()
  set(prefix "")
  if(DEFINED arg_ROOT)
    string(REGEX REPLACE "/+$" "" root "${arg_ROOT}")
    set(prefix "${root}/")
  endif()

  get_filename_component(log "${arg_LOG}" ABSOLUTE
                         BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${log}")
    message(FATAL_ERROR "kestrane_sources: the supplier's build log does not "
                        "exist:\n  ${log}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${log}")

  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/kestrane/${out_var}.txt")
  # kestrane takes each option from the first argument that merely contains
  # its name, its own path included: such a path would be misread.
  foreach(path IN ITEMS "${KESTRANE_EXECUTABLE}" "${log}" "${list_file}")
    if(path MATCHES "--input|--output")
      message(FATAL_ERROR "kestrane_sources: kestrane would misread this path "
                          "as an option because it contains \"--input\" or "
                          "\"--output\":\n  ${path}")
    endif()
  endforeach()

  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/kestrane")
  execute_process(
    COMMAND "${KESTRANE_EXECUTABLE}" "--input=${log}" "--output=${list_file}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    # The identification lines come first; the message is the last line.
    string(STRIP "${output}" output)
    string(REGEX REPLACE "^.*\n" "" said "${output}")
    string(STRIP "${errors}" errors)
    if(NOT errors STREQUAL "")
      string(APPEND said "\n${errors}")
    endif()
    message(FATAL_ERROR "kestrane_sources: kestrane could not list the sources "
                        "of the supplier's build log\n  ${log}\n"
                        "It said: ${said}\n(exit status ${status})")
  endif()

  # file(READ) drops the carriage return of a CR LF line end, so the list of
  # the Windows build reads like the native one.
  file(READ "${list_file}" text)
  # A CMake list splits at ';' and holds together what '[' and ']' enclose.
  if(text MATCHES "[^\n]*[][;][^\n]*")
    message(FATAL_ERROR "kestrane_sources: the list of ${log} holds an entry "
                        "that a CMake list cannot carry (';', '[' or ']'):\n"
                        "  ${CMAKE_MATCH_0}")
  endif()
  # Every entry ends with a line feed, so an empty entry is still a line.
  string(REGEX MATCHALL "[^\n]*\n" lines "${text}")
  set(sources "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\n$" "" entry "${line}")
    list(APPEND sources "${prefix}${entry}${extension}")
  endforeach()
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()
