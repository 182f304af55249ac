# kestrane_sources(<out-var> LOG <log> [ROOT <dir>] [EXTENSION <ext>]
#                  [TIMEOUT <seconds>] [ALLOW_EMPTY])
#
# Sets <out-var> to the source files that a supplier's build log lists, in
# its order, each as "<dir>/<entry><ext>" (no "<dir>/" without ROOT; <ext> is
# ".c" unless given). A relative LOG is taken from the current source folder.
# kestrane checks the log, and nothing here checks it again: --strict
# --allow-blanks (plain relative paths, single blanks inside names), and
# every listed file inside ROOT (the current source folder) once links are
# resolved, not in the build folder. A refused log, an empty list (unless
# ALLOW_EMPTY), a log that is no regular file, a kestrane that takes over
# TIMEOUT seconds (120) or does not check the tree: each stops the
# configure, with kestrane's own message where the cause is an entry.
#
# Every build runs kestrane again, whatever the log's date; it leaves an
# unchanged list as it was. A stamp beside the list, written only with a
# new list that the build may take, is a configure dependency: Ninja brings
# it up to date before it reads its build files, so the same build
# configures anew; other generators stop once, saying to build again. A
# failure does not stop Ninja there (so that "clean" runs): the target
# kestrane_<out-var>, which the folder's compiling targets wait for, stops
# the build with it. The list is <binary folder>/kestrane/<out-var>.txt, with
# .left-out (kestrane --explain) and .changes (--changes) beside it; status
# lines tell the first five of each. The tool is KESTRANE_EXECUTABLE, which
# find_package(Kestrane) sets, else the target Kestrane::kestrane.

include_guard(GLOBAL)
# In a project of any version, and as the build step's script.
cmake_policy(VERSION 3.25)

function(kestrane_sources out_var)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALLOW_EMPTY" "LOG;ROOT;EXTENSION;TIMEOUT" "")
  set(usage "usage: kestrane_sources(<out-var> LOG <log> [ROOT <dir>] "
            "[EXTENSION <ext>] [TIMEOUT <seconds>] [ALLOW_EMPTY])")
  set(tool "${KESTRANE_EXECUTABLE}")
  if(NOT tool AND TARGET Kestrane::kestrane)
    get_target_property(tool Kestrane::kestrane LOCATION)
  endif()
  set(timeout 120)
  if(DEFINED arg_TIMEOUT)
    set(timeout "${arg_TIMEOUT}")
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
  get_filename_component(root "${root}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(log "${arg_LOG}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/kestrane/${out_var}.txt")
  string(MAKE_C_IDENTIFIER "${out_var}" check)
  file(RELATIVE_PATH place "${CMAKE_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}")
  if(NOT place STREQUAL "")
    string(MAKE_C_IDENTIFIER "${place}" place)
    set(check "${place}_${check}")
  endif()
  set(check "kestrane_${check}")

  # What is the project's own fault, before kestrane runs.
  set(error "")
  set(misread "")
  foreach(path IN ITEMS "${tool}" "${log}" "${list_file}" "${root}" "${CMAKE_BINARY_DIR}")
    if(path MATCHES "--input|--output")
      set(misread "${path}")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS OR NOT DEFINED arg_LOG)
    set(error "${usage}")
  elseif(NOT tool)
    set(error "no kestrane to run; call find_package(Kestrane) first or set KESTRANE_EXECUTABLE")
  elseif(NOT timeout MATCHES "^[0-9]*[.]?[0-9]+$" OR timeout EQUAL 0)
    set(error "TIMEOUT takes a number of seconds greater than 0, not \"${timeout}\"")
  elseif(NOT misread STREQUAL "")
    string(CONCAT error "kestrane would misread this path as an option because it "
                        "contains \"--input\" or \"--output\":\n  ${misread}")
  elseif(TARGET ${check})
    string(CONCAT error "${out_var} is set from a log twice in this folder; give each "
                        "call a variable of its own")
  endif()

  if(error STREQUAL "")
    # The settings of the run, for the build step too.
    set(exclude "${CMAKE_BINARY_DIR}")
    set(log_name "${arg_LOG}")
    set(allow_empty "${arg_ALLOW_EMPTY}")
    set(settings "")
    foreach(name IN ITEMS tool log log_name root extension exclude timeout allow_empty
                          list_file)
      string(REGEX REPLACE "([\\\\\"$])" "\\\\\\1" value "${${name}}")
      string(APPEND settings "set(${name} \"${value}\")\n")
    endforeach()
    file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/kestrane")
    _kestrane_write_if_changed("${list_file}.cmake" "${settings}")
    # The configure that follows a build step's new list tells that run.
    set(step_ran FALSE)
    if(EXISTS "${list_file}.untold")
      file(READ "${list_file}.untold" untold)
      file(REMOVE "${list_file}.untold")
      if(untold STREQUAL settings AND EXISTS "${list_file}")
        set(step_ran TRUE)
      endif()
    endif()
    if(NOT step_ran)
      _kestrane_run(error "${list_file}.cmake")
    endif()
  endif()
  if(NOT error STREQUAL "")
    message(FATAL_ERROR "kestrane_sources: ${error}")
  endif()
  # Plain relative paths, one a line, each ended by a line feed (CR LF from
  # the Windows build): the lines make a list.
  file(READ "${list_file}" text)
  string(REPLACE "\r" "" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" sources "${text}")
  set(text "")
  list(LENGTH sources count)
  list(TRANSFORM sources PREPEND "${prefix}")
  list(TRANSFORM sources APPEND "${extension}")
  # What kestrane found: how many sources, what changed, what was left out.
  _kestrane_left_out(lines left_out "${list_file}.left-out")
  set(s s)
  if(count EQUAL 1)
    set(s "")
  endif()
  message(STATUS "Kestrane: ${count} source${s} from ${arg_LOG} (${lines} left out)")
  _kestrane_changes(changes "${list_file}.changes")
  string(REGEX REPLACE "\n$" "" shown "${changes}\n${left_out}")
  string(REPLACE "\n" "\n--   " shown "${shown}")  # one status line each
  message(STATUS "  ${shown}")
  _kestrane_build_step("${check}" "${list_file}" "${arg_LOG}")
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()

# Runs kestrane with the settings in <settings> (those kestrane_sources()
# writes): sets <error_var> to why it gave no list that the build may take,
# or to "".
function(_kestrane_run error_var settings)
  include("${settings}")
  set(${error_var} "" PARENT_SCOPE)
  set(the_log "the supplier's build log\n  ${log}\n")
  set(error "")
  if(NOT EXISTS "${log}")
    set(error "the supplier's build log does not exist:\n  ${log}")
  elseif(CMAKE_HOST_UNIX)
    # A device or a pipe could be read for ever (a link to /dev/zero).
    execute_process(COMMAND test -f "${log}" RESULT_VARIABLE status)
  endif()
  if(IS_DIRECTORY "${log}" OR status)
    string(CONCAT error "the supplier's build log is not a regular file (a folder, a "
                        "device or a pipe):\n  ${log}")
  endif()
  if(error STREQUAL "")
    # A kestrane that writes no report after a run that succeeds is one
    # from before the tree's options: it checked nothing.
    file(REMOVE "${list_file}.changes")
    execute_process(
      COMMAND "${tool}" --strict --allow-blanks "--root=${root}" "--extension=${extension}"
              "--exclude=${exclude}" "--input=${log}" "--output=${list_file}"
              "--explain=${list_file}.left-out" "--changes=${list_file}.changes"
      TIMEOUT ${timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_QUIET)
    # The identification lines come first; the message is the last line.
    string(REGEX REPLACE "[\r\n]+$" "" output "${output}")
    string(REGEX REPLACE "^.*\n" "" said "${output}")
    string(REPLACE "\r" "" said "${said}")
    if(status MATCHES "timeout")
      string(CONCAT error "kestrane\n  ${tool}\ndid not finish within ${timeout} s on "
                          "${the_log}(give kestrane_sources() a longer TIMEOUT if the log "
                          "is that large)")
    elseif(NOT status MATCHES "^-?[0-9]+$")
      set(error "could not run kestrane\n  ${tool}\non ${the_log}(${status})")
    elseif(NOT status EQUAL 0)
      string(CONCAT error "kestrane could not list the sources of ${the_log}"
                          "It said: ${said}\n(exit status ${status})")
    elseif(NOT EXISTS "${list_file}.changes")
      string(CONCAT error "kestrane\n  ${tool}\ndoes not check the listed files against "
                          "the source tree nor report changes (--root, --changes): use the "
                          "kestrane that this Kestrane.cmake came with")
    else()
      file(SIZE "${list_file}" size)
    endif()
  endif()
  if(error STREQUAL "" AND size EQUAL 0 AND NOT allow_empty)
    _kestrane_left_out(lines left_out "${list_file}.left-out")
    if(lines MATCHES "^0 ")
      string(CONCAT error "no line of ${log_name} mentions \"compiling\": is it the "
                          "supplier's build log, in the form the README describes?")
    else()
      string(REPLACE "\n" "\n  " left_out "${left_out}")
      string(CONCAT error "the supplier's build log ${log_name} lists no compiled source "
                          "file; ${lines} were left out:\n  ${left_out}\n"
                          "(give ALLOW_EMPTY to accept an empty list)")
    endif()
  endif()
  set(${error_var} "${error}" PARENT_SCOPE)
endfunction()

# The first five lines of <path> (a few KiB), each with its line feed. Not
# a CMake list: a line of the log may hold any character.
function(_kestrane_first_lines out path)
  file(READ "${path}" head LIMIT 8192)
  string(REPLACE "\r" "" head "${head}")
  set(line "([^\n]*\n)?")
  if(NOT head STREQUAL "")  # a match may not be empty
    string(REGEX MATCH "^${line}${line}${line}${line}${line}" head "${head}")
  endif()
  set(${out} "${head}" PARENT_SCOPE)
endfunction()

# From kestrane's explanation <explain>: in <lines_var> how many lines that
# mention "compiling" were left out, in <out> a line each for the first five
# ("line <n>: <reason>: <the line>"), then "<n> more in <explain>" where
# there are more.
function(_kestrane_left_out lines_var out explain)
  # A line a line left out, the last perhaps "<N> more lines left out".
  # Counted a piece at a time, so memory stays small however many there are.
  file(SIZE "${explain}" size)
  set(count 0)
  set(offset 0)
  while(offset LESS size)
    file(READ "${explain}" piece OFFSET ${offset} LIMIT 1048576)
    string(LENGTH "${piece}" length)
    string(REPLACE "\n" "" piece "${piece}")
    string(LENGTH "${piece}" rest)
    math(EXPR count "${count} + ${length} - ${rest}")
    math(EXPR offset "${offset} + 1048576")
  endwhile()
  if(size GREATER 64)
    math(EXPR offset "${size} - 64")
    file(READ "${explain}" tail OFFSET ${offset})
    if(tail MATCHES "\n([0-9]+) more lines left out\r?\n$")
      math(EXPR count "${count} - 1 + ${CMAKE_MATCH_1}")
    endif()
  endif()
  _kestrane_first_lines(told "${explain}")
  string(REGEX REPLACE "([^\t\n]*)\t([^\t\n]*)\t" "line \\1: \\2: " told "${told}")
  string(REGEX MATCHALL "\n" shown "${told}")
  list(LENGTH shown shown)
  if(count GREATER shown)
    math(EXPR more "${count} - ${shown}")
    string(APPEND told "${more} more in ${explain}\n")
  endif()
  set(lines "${count} lines that mention \"compiling\"")
  if(count EQUAL 1)
    set(lines "1 line that mentions \"compiling\"")
  endif()
  set(${lines_var} "${lines}" PARENT_SCOPE)
  set(${out} "${told}" PARENT_SCOPE)
endfunction()

# From kestrane's report of changes <report>, in <out>: the list is the
# first, the same as before, or "since the last list: <a> added, <r>
# removed, <m> moved" and the first five changes ("+ <entry> (<new
# position>)", "- <entry> (was <old position>)", "~ <entry> <new position>
# (was <old position>)").
function(_kestrane_changes out report)
  file(READ "${report}" text)
  string(REPLACE "\r" "" text "${text}")
  if(text STREQUAL "")
    set(${out} "the same list as before" PARENT_SCOPE)
  elseif(text STREQUAL "no earlier list\n")
    set(${out} "the first list" PARENT_SCOPE)
  elseif(text MATCHES "^(more than [^\n]*)")
    set(${out} "since the last list: ${CMAKE_MATCH_1} (all in ${report})" PARENT_SCOPE)
  else()
    set(told "since the last list:")
    foreach(kind IN ITEMS "+;added" "-;removed" "~;moved")
      list(GET kind 0 mark)
      list(GET kind 1 name)
      string(REGEX MATCHALL "(^|\n)[${mark}]\t" some "${text}")
      list(LENGTH some n)
      string(APPEND told " ${n} ${name},")
    endforeach()
    string(REGEX REPLACE ",$" " (all in ${report})" told "${told}")
    _kestrane_first_lines(first "${report}")
    string(REGEX REPLACE "[+]\t([0-9]+)\t\"([^\n]*)\"\n" "  + \\2 (\\1)\n" first "${first}")
    string(REGEX REPLACE "-\t([0-9]+)\t\"([^\n]*)\"\n" "  - \\2 (was \\1)\n" first "${first}")
    string(REGEX REPLACE "~\t([0-9]+)\t([0-9]+)\t\"([^\n]*)\"\n" "  ~ \\3 \\1 (was \\2)\n"
           first "${first}")
    string(REGEX REPLACE "\n$" "" first "${first}")
    set(${out} "${told}\n${first}" PARENT_SCOPE)
  endif()
endfunction()

# The step that runs kestrane on every build for the call that made target
# <check>: its list file is both a configure dependency and the output of a
# command that depends on an always-missing (SYMBOLIC) file, so the command
# runs on every build; kestrane leaves an unchanged list as it was.
function(_kestrane_build_step check list_file log_name)
  set(step "${CMAKE_COMMAND}" "-DKESTRANE_LIST=${list_file}")
  set(module -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  # The configure depends on a stamp that the step writes only with a list
  # the build may take: a list that is empty, or refused, leaves it, so that
  # the configure does not fail, and "clean" still runs.
  if(NOT EXISTS "${list_file}.accepted")
    file(TOUCH "${list_file}.accepted")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}.accepted")
  get_filename_component(log_name "${log_name}" NAME)
  if(CMAKE_GENERATOR MATCHES "^Ninja")
    set(always "${list_file}.always")
    set_source_files_properties("${always}" PROPERTIES SYMBOLIC TRUE)
    # Without a command, Ninja makes this a phony edge: nothing runs for it.
    add_custom_command(OUTPUT "${always}" COMMENT "")
    add_custom_command(OUTPUT "${list_file}.accepted" BYPRODUCTS "${list_file}"
                       COMMAND ${step} -DKESTRANE_STEP=follow ${module} DEPENDS "${always}"
                       COMMENT "Kestrane: listing ${log_name}" VERBATIM)
    add_custom_target(${check}_list DEPENDS "${list_file}.accepted")
    # Empty while the log is followed; written only when it changes.
    _kestrane_write_if_changed("${list_file}.verdict" "")
    add_custom_command(OUTPUT "${list_file}.checked"
                       COMMAND ${step} -DKESTRANE_STEP=verdict ${module}
                       DEPENDS "${list_file}.verdict" COMMENT "Kestrane: checking ${log_name}"
                       VERBATIM)
    add_custom_target(${check} ALL DEPENDS "${list_file}.checked")
  else()
    # The list is no output of the step, or make would delete it when the
    # step stops the build.
    set(listed "${list_file}.listed")
    set_source_files_properties("${listed}" PROPERTIES SYMBOLIC TRUE)
    add_custom_command(OUTPUT "${listed}" BYPRODUCTS "${list_file}"
                       COMMAND ${step} -DKESTRANE_STEP=stop ${module}
                       COMMENT "Kestrane: listing ${log_name}" VERBATIM)
    add_custom_target(${check} ALL DEPENDS "${listed}")
  endif()
  # At the end of the folder, when its targets are there.
  cmake_language(EVAL CODE "cmake_language(DEFER CALL _kestrane_wait_for [[${check}]])")
endfunction()

# Every target of the folder that compiles waits for <check>: none compiles
# from a list that a newer log no longer gives.
function(_kestrane_wait_for check)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|(STATIC|SHARED|MODULE|OBJECT)_LIBRARY)$")
      add_dependencies(${target} ${check})
    endif()
  endforeach()
endfunction()

# The build step itself, run as
# "cmake -DKESTRANE_LIST=<list> -DKESTRANE_STEP=<step> -P Kestrane.cmake":
# - follow (Ninja): runs kestrane; a failure goes to the verdict file;
# - stop (other generators): the same, but a failure, or a new list, stops
#   the build;
# - verdict: stops the build with what the verdict file says, if anything.
function(_kestrane_step list_file step)
  if(step STREQUAL "verdict")
    file(READ "${list_file}.verdict" said)
    if(NOT said STREQUAL "")
      message(FATAL_ERROR "${said}")
    endif()
    file(TOUCH "${list_file}.checked")
    return()
  endif()
  _kestrane_run(error "${list_file}.cmake")
  set(changed 0)
  if(error STREQUAL "")
    file(SIZE "${list_file}.changes" changed)
  endif()
  if(changed GREATER 0)
    # The configure that the new list brings tells what this run found.
    file(READ "${list_file}.cmake" settings)
    file(WRITE "${list_file}.untold" "${settings}")
    file(TOUCH "${list_file}.accepted")
  endif()
  if(NOT error STREQUAL "")
    set(error "kestrane_sources: ${error}")
  endif()
  if(step STREQUAL "follow")
    _kestrane_write_if_changed("${list_file}.verdict" "${error}")
  elseif(NOT error STREQUAL "")
    message(FATAL_ERROR "${error}")
  elseif(changed GREATER 0)
    include("${list_file}.cmake")
    message(FATAL_ERROR "kestrane_sources: the supplier's build log\n  ${log}\n"
                        "lists other sources now; this build was set up for the "
                        "old list and stops here: build again to compile the new one")
  endif()
endfunction()

# Writes <text> to <path> unless it holds that already: what depends on the
# file is remade only when it changes.
function(_kestrane_write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED KESTRANE_STEP)
  _kestrane_step("${KESTRANE_LIST}" "${KESTRANE_STEP}")
endif()
