# kestrane_sources(<out-var> LOG <log> [ROOT <dir>] [EXTENSION <ext>]
#                  [ALLOW_EMPTY])
#
# Runs kestrane --strict on a supplier's build log while the project is
# configured and sets <out-var> to the listed source files in the log's order,
# ready for add_executable() or add_library(): each entry with "<dir>/" before
# it when ROOT is given, and <ext> after it (".c" unless EXTENSION is given; an
# empty EXTENSION adds nothing). A relative LOG is taken from the current
# source folder. The log becomes a configure dependency, so a new log re-runs
# this. A status line tells how many sources the log gave, and how many of its
# lines with "Compiling" gave none (C++ files, for instance).
#
# The log is someone else's text. With --strict, kestrane refuses a log with an
# entry that is not a plain relative path (no "..", no absolute path, only
# A-Z a-z 0-9 . _ - and /), so no entry can carry CMake list or generator
# expression syntax. What kestrane cannot know is checked here: every listed
# file must exist and, with symbolic links resolved, lie inside ROOT (the
# current source folder when no ROOT is given). A log that lists nothing is an
# error unless ALLOW_EMPTY is given. A target built from a wrong log fails
# here, naming the log, rather than later or not at all.
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
  _kestrane_shown(shown_log "${log}")
  if(NOT EXISTS "${log}")
    message(FATAL_ERROR "kestrane_sources: the supplier's build log does not "
                        "exist:\n  ${shown_log}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${log}")

  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/kestrane/${out_var}.txt")
  # kestrane takes each option from the first argument that merely contains
  # its name, its own path included: such a path would be misread.
  foreach(path IN ITEMS "${tool}" "${log}" "${list_file}")
    if(path MATCHES "--input|--output")
      _kestrane_shown(path "${path}")
      message(FATAL_ERROR "kestrane_sources: kestrane would misread this path "
                          "as an option because it contains \"--input\" or "
                          "\"--output\":\n  ${path}")
    endif()
  endforeach()

  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/kestrane")
  execute_process(
    COMMAND "${tool}" --strict "--input=${log}" "--output=${list_file}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  _kestrane_shown(shown_tool "${tool}")
  # A number is the tool's exit status; anything else says why it did not run.
  if(NOT status MATCHES "^-?[0-9]+$")
    _kestrane_shown(status "${status}")
    message(FATAL_ERROR "kestrane_sources: could not run kestrane\n"
                        "  ${shown_tool}\non the supplier's build log\n"
                        "  ${shown_log}\n(${status})")
  endif()
  if(NOT status EQUAL 0)
    # The identification lines come first; the message is the last line.
    string(STRIP "${output}" output)
    string(REGEX REPLACE "^.*\n" "" said "${output}")
    string(STRIP "${errors}" errors)
    if(NOT errors STREQUAL "")
      string(APPEND said "\n${errors}")
    endif()
    _kestrane_shown(said "${said}")
    message(FATAL_ERROR "kestrane_sources: kestrane could not list the sources "
                        "of the supplier's build log\n  ${shown_log}\n"
                        "It said: ${said}\n(exit status ${status})")
  endif()

  # file(READ) drops the carriage return of a CR LF line end, so the list of
  # the Windows build reads like the native one.
  file(READ "${list_file}" text)
  # Only a kestrane that ignores --strict (one from before it) lists other
  # characters; nothing it wrote goes further then.
  if(NOT text MATCHES "^[-./0-9A-Z_a-z\n]*$")
    # Up to the first other character; from the line where it stands.
    string(REGEX MATCH "^[-./0-9A-Z_a-z\n]*." plain "${text}")
    string(FIND "${plain}" "\n" start REVERSE)
    math(EXPR start "${start} + 1")
    string(SUBSTRING "${text}" ${start} -1 entry)
    string(FIND "${entry}" "\n" end)
    string(SUBSTRING "${entry}" 0 ${end} entry)
    _kestrane_shown(entry "${entry}")
    message(FATAL_ERROR "kestrane_sources: the list of the supplier's build "
                        "log\n  ${shown_log}\nholds an entry that is not a plain "
                        "relative path, which kestrane --strict refuses; is\n"
                        "  ${shown_tool}\na kestrane without --strict? The "
                        "entry:\n  ${entry}")
  endif()

  # Every entry ends with a line feed: the entries are the lines.
  string(REGEX REPLACE "\n$" "" sources "${text}")
  string(REPLACE "\n" ";" sources "${sources}")
  if(text STREQUAL "")
    set(sources "")
    if(NOT arg_ALLOW_EMPTY)
      message(FATAL_ERROR "kestrane_sources: the supplier's build log\n"
                          "  ${shown_log}\nannounces no compiled source file "
                          "(give ALLOW_EMPTY to accept an empty list)")
    endif()
  endif()
  list(TRANSFORM sources PREPEND "${prefix}")
  list(TRANSFORM sources APPEND "${extension}")

  # An entry is a plain path, but the tree may hold a symbolic link that leads
  # out of it: the file, with every link resolved, must lie inside the root.
  file(REAL_PATH "${root}" real_root BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
  string(REGEX REPLACE "/$" "" real_root "${real_root}")
  string(LENGTH "${real_root}/" root_length)
  foreach(source IN LISTS sources)
    get_filename_component(path "${source}" ABSOLUTE
                           BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      _kestrane_shown(path "${path}")
      message(FATAL_ERROR "kestrane_sources: the supplier's build log\n"
                          "  ${shown_log}\nlists a source file that is not "
                          "there:\n  ${path}")
    endif()
    file(REAL_PATH "${path}" real)
    string(SUBSTRING "${real}" 0 ${root_length} real_start)
    if(NOT real_start STREQUAL "${real_root}/")
      _kestrane_shown(path "${path}")
      _kestrane_shown(real "${real}")
      _kestrane_shown(real_root "${real_root}")
      message(FATAL_ERROR "kestrane_sources: the supplier's build log\n"
                          "  ${shown_log}\nlists the source file\n  ${path}\n"
                          "which is, with symbolic links resolved,\n  ${real}\n"
                          "outside the root\n  ${real_root}")
    endif()
  endforeach()

  # Where the build is configured, what the log gave and what it did not: a
  # line that mentions "Compiling" but is not a compile line (a C++ file, a
  # line in another form) is left out without a word from kestrane.
  # file(STRINGS) reads a UTF-16 log as kestrane does.
  file(STRINGS "${log}" compiling REGEX Compiling)
  list(LENGTH compiling mentions)
  list(LENGTH sources count)
  math(EXPR left_out "${mentions} - ${count}")
  if(left_out LESS 0)
    set(left_out 0)
  endif()
  set(s s)
  if(count EQUAL 1)
    set(s "")
  endif()
  set(lines lines)
  if(left_out EQUAL 1)
    set(lines line)
  endif()
  _kestrane_shown(name "${arg_LOG}")
  message(STATUS "Kestrane: ${count} source${s} from ${name} (${left_out} "
                 "${lines} with \"Compiling\" left out)")
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()

# <text> as a terminal may safely show it: every control character (C0, DEL,
# and C1 as UTF-8 writes it) as \xHH, and a text of more than 400 bytes cut
# short. A path or a message could otherwise move the cursor, hide or rewrite
# what the user reads, or set the window title.
function(_kestrane_shown out_var text)
  string(LENGTH "${text}" length)
  if(length GREATER 400)
    string(SUBSTRING "${text}" 0 400 text)
    set(cut "... (${length} bytes)")
  endif()
  if(NOT text MATCHES "^[ -~]*$")
    set(hex 0123456789ABCDEF)
    foreach(code RANGE 1 159)
      if(code GREATER 31 AND code LESS 127)
        continue()
      endif()
      math(EXPR high "${code} / 16")
      math(EXPR low "${code} % 16")
      string(SUBSTRING ${hex} ${high} 1 high)
      string(SUBSTRING ${hex} ${low} 1 low)
      if(code LESS 128)
        string(ASCII ${code} character)
        string(REPLACE "${character}" "\\x${high}${low}" text "${text}")
      else()
        string(ASCII 194 ${code} character)
        string(REPLACE "${character}" "\\xC2\\x${high}${low}" text "${text}")
      endif()
    endforeach()
  endif()
  set(${out_var} "${text}${cut}" PARENT_SCOPE)
endfunction()
