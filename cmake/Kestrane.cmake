# kestrane_sources(<out-var> LOG <log> [ROOT <dir>] [EXTENSION <ext>]
#                  [ALLOW_EMPTY])
#
# Runs kestrane on a supplier's build log while the project is configured and
# sets <out-var> to the listed source files in the log's order, ready for
# add_executable() or add_library(): each entry with "<dir>/" before it when
# ROOT is given, and <ext> after it (".c" unless EXTENSION is given; an empty
# EXTENSION adds nothing). A relative LOG is taken from the current source
# folder. The log becomes a configure dependency, so a new log re-runs this.
#
# Every listed file must exist inside ROOT (the current source folder when
# no ROOT is given), and a log that lists nothing is an error unless
# ALLOW_EMPTY is given: a target built from a wrong log fails here, naming
# the log, rather than later or not at all.
#
# The tool run is KESTRANE_EXECUTABLE, which find_package(Kestrane) sets, or
# else the target Kestrane::kestrane, which Kestrane defines when it is part
# of the build (add_subdirectory, FetchContent). The list is kept in
# <current binary folder>/kestrane/<out-var>.txt.

include_guard(GLOBAL)

function(kestrane_sources out_var)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALLOW_EMPTY" "LOG;ROOT;EXTENSION" "")
  if(arg_UNPARSED_ARGUMENTS OR NOT DEFINED arg_LOG)
    message(FATAL_ERROR "kestrane_sources: usage: kestrane_sources(<out-var> "
                        "LOG <log> [ROOT <dir>] [EXTENSION <ext>] [ALLOW_EMPTY])")
  endif()
  set(tool "${KESTRANE_EXECUTABLE}")
  if(NOT tool AND TARGET Kestrane::kestrane)
    get_target_property(tool Kestrane::kestrane LOCATION)
  endif()
  if(NOT tool)
    message(FATAL_ERROR "kestrane_sources: no kestrane to run; call "
                        "find_package(Kestrane) first or set KESTRANE_EXECUTABLE")
  endif()
  # cmake_parse_arguments() drops an empty value, but EXTENSION "" is given.
  set(extension .c)
  if("EXTENSION" IN_LIST ARGN)
    set(extension "${arg_EXTENSION}")
  endif()
  set(prefix "")
  set(root "${CMAKE_CURRENT_SOURCE_DIR}")
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
  foreach(path IN ITEMS "${tool}" "${log}" "${list_file}")
    if(path MATCHES "--input|--output")
      message(FATAL_ERROR "kestrane_sources: kestrane would misread this path "
                          "as an option because it contains \"--input\" or "
                          "\"--output\":\n  ${path}")
    endif()
  endforeach()

  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/kestrane")
  execute_process(
    COMMAND "${tool}" "--input=${log}" "--output=${list_file}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  # A number is the tool's exit status; anything else says why it did not run.
  if(NOT status MATCHES "^-?[0-9]+$")
    message(FATAL_ERROR "kestrane_sources: could not run kestrane\n  ${tool}\n"
                        "on the supplier's build log\n  ${log}\n(${status})")
  endif()
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
  if(NOT lines AND NOT arg_ALLOW_EMPTY)
    message(FATAL_ERROR "kestrane_sources: the supplier's build log\n  ${log}\n"
                        "announces no compiled source file (give ALLOW_EMPTY "
                        "to accept an empty list)")
  endif()
  set(sources "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\n$" "" entry "${line}")
    _kestrane_check_entry("${entry}" "${extension}" "${log}" "${root}")
    set(source "${prefix}${entry}${extension}")
    get_filename_component(path "${source}" ABSOLUTE
                           BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      message(FATAL_ERROR "kestrane_sources: the supplier's build log\n  ${log}\n"
                          "lists a source file that is not there:\n  ${path}")
    endif()
    list(APPEND sources "${source}")
  endforeach()
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()

# A supplier's log can name files anywhere; the build takes only those inside
# the root. Checked on the text, as the list gives it, not on the file system.
function(_kestrane_check_entry entry extension log root)
  set(file "${entry}${extension}")
  set(why "")
  if(file MATCHES "^/")
    set(why "an absolute path")
  elseif(file MATCHES "^[A-Za-z]:")
    set(why "a path with a drive letter")
  else()
    set(depth 0)
    string(REPLACE "/" ";" steps "${file}")
    foreach(step IN LISTS steps)
      if(step STREQUAL "..")
        math(EXPR depth "${depth} - 1")
        if(depth LESS 0)
          set(why "its \"..\" steps lead out of the root")
          break()
        endif()
      elseif(NOT step STREQUAL "." AND NOT step STREQUAL "")
        math(EXPR depth "${depth} + 1")
      endif()
    endforeach()
  endif()
  if(why)
    message(FATAL_ERROR "kestrane_sources: the supplier's build log\n  ${log}\n"
                        "lists an entry outside the root ${root} (${why}):\n"
                        "  ${entry}")
  endif()
endfunction()
