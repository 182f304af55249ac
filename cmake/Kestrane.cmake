# kestrane_sources(<out-var> LOG <log> [ROOT <dir>] [EXTENSION <ext>]
#                  [TIMEOUT <seconds>] [ALLOW_EMPTY])
#
# Runs kestrane --strict on a supplier's build log while the project is
# configured and sets <out-var> to the listed source files in the log's order,
# ready for add_executable() or add_library(): each entry with "<dir>/" before
# it when ROOT is given, and <ext> after it (".c" unless EXTENSION is given; an
# empty EXTENSION adds nothing). A relative LOG is taken from the current
# source folder. Status lines tell how many sources the log gave, and which of
# its lines that mention "compiling" gave none, and why (C++ files, for
# instance): the first five, from kestrane --explain, whose file beside the
# list holds them all.
#
# The log is someone else's text. With --strict, kestrane refuses a log with an
# entry that is not a plain relative path (no "..", no absolute path, only
# A-Z a-z 0-9 . _ -, single blanks inside a name, and /), so no entry can carry
# CMake list or generator expression syntax. What kestrane cannot know is
# checked here: every listed file must exist and, with symbolic links
# resolved, lie inside ROOT (the current source folder when no ROOT is given).
# A log that lists nothing is an error, which names the lines left out, unless
# ALLOW_EMPTY is given. The log
# must be a regular file, and kestrane gets TIMEOUT seconds (120 unless
# given) to list it. A target built from a wrong log fails here, naming the
# log, rather than later or not at all.
#
# Every build runs kestrane on the log again, whatever the log's date (logs
# come out of archives and copies with the supplier's dates), and the list is
# replaced only when it differs. The list, not the log, is a configure
# dependency:
# - Ninja brings the list up to date before it reads its build files, so a
#   changed list re-runs this and the same build compiles the new sources;
#   an unchanged one costs one run of kestrane.
# - Other generators read their build files first: a build that finds a
#   changed list stops, saying to build again, and the next one configures
#   anew. It never goes on from the old list.
# A changed list is checked as above before it replaces the old one. Under
# Ninja a refused or missing log must not stop Ninja itself, or "clean" could
# not run: the target kestrane_<out-var> stops the build instead, and every
# target of this folder that compiles waits for it.
#
# The tool run is KESTRANE_EXECUTABLE, which find_package(Kestrane) sets, or
# else the target Kestrane::kestrane, which Kestrane defines when it is part
# of the build (add_subdirectory, FetchContent). The list is kept in
# <current binary folder>/kestrane/<out-var>.txt, the lines left out in
# <out-var>.txt.left-out beside it, written with each new list.

include_guard(GLOBAL)
# The functions keep these policies, in a project of any version and when
# this file runs as the build step's script.
cmake_policy(VERSION 3.25)

function(kestrane_sources out_var)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALLOW_EMPTY" "LOG;ROOT;EXTENSION;TIMEOUT" "")
  if(arg_UNPARSED_ARGUMENTS OR NOT DEFINED arg_LOG)
    message(FATAL_ERROR "kestrane_sources: usage: kestrane_sources(<out-var> "
                        "LOG <log> [ROOT <dir>] [EXTENSION <ext>] "
                        "[TIMEOUT <seconds>] [ALLOW_EMPTY])")
  endif()
  set(tool "${KESTRANE_EXECUTABLE}")
  if(NOT tool AND TARGET Kestrane::kestrane)
    get_target_property(tool Kestrane::kestrane LOCATION)
  endif()
  if(NOT tool)
    message(FATAL_ERROR "kestrane_sources: no kestrane to run; call "
                        "find_package(Kestrane) first or set KESTRANE_EXECUTABLE")
  endif()
  set(timeout 120)
  if(DEFINED arg_TIMEOUT)
    if(NOT arg_TIMEOUT MATCHES "^[0-9]*[.]?[0-9]+$" OR arg_TIMEOUT EQUAL 0)
      _kestrane_shown(shown "${arg_TIMEOUT}")
      message(FATAL_ERROR "kestrane_sources: TIMEOUT takes a number of seconds "
                          "greater than 0, not \"${shown}\"")
    endif()
    set(timeout ${arg_TIMEOUT})
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
  get_filename_component(log "${arg_LOG}" ABSOLUTE
                         BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")

  set(dir "${CMAKE_CURRENT_BINARY_DIR}/kestrane")
  set(list_file "${dir}/${out_var}.txt")
  set(explain "${list_file}.left-out")
  # kestrane takes each option from the first argument that merely contains
  # its name, its own path included: such a path would be misread.
  foreach(path IN ITEMS "${tool}" "${log}" "${list_file}" "${explain}")
    if(path MATCHES "--input|--output")
      _kestrane_shown(path "${path}")
      message(FATAL_ERROR "kestrane_sources: kestrane would misread this path "
                          "as an option because it contains \"--input\" or "
                          "\"--output\":\n  ${path}")
    endif()
  endforeach()
  string(MAKE_C_IDENTIFIER "${out_var}" name)
  file(RELATIVE_PATH place "${CMAKE_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}")
  if(NOT place STREQUAL "")
    string(MAKE_C_IDENTIFIER "${place}" place)
    set(name "${place}_${name}")
  endif()
  set(check "kestrane_${name}")
  if(TARGET ${check})
    message(FATAL_ERROR "kestrane_sources: ${out_var} is set from a log twice in "
                        "this folder; give each call a variable of its own")
  endif()

  file(MAKE_DIRECTORY "${dir}")
  _kestrane_make_list(sources error OUTPUT "${list_file}" EXPLAIN "${explain}" TOOL "${tool}"
    LOG "${log}" ROOT "${root}" PREFIX "${prefix}" EXTENSION "${extension}"
    BASE "${CMAKE_CURRENT_SOURCE_DIR}" TIMEOUT "${timeout}" ALLOW_EMPTY "${arg_ALLOW_EMPTY}")
  if(NOT error STREQUAL "")
    # Not kept: the next build makes it again and finds it new.
    file(REMOVE "${list_file}")
    message(FATAL_ERROR "${error}")
  endif()

  # Where the build is configured, what the log gave and what it did not: a
  # line that mentions "compiling" but is not a compile line (a C++ file, a
  # line in another form) gives no entry, and kestrane --explain tells why.
  list(LENGTH sources count)
  set(s s)
  if(count EQUAL 1)
    set(s "")
  endif()
  _kestrane_left_out(left_out "${explain}")
  set(told "${left_out_lines} left out")
  if(left_out_count STREQUAL "")
    set(told "kestrane does not tell which lines it left out")
  endif()
  _kestrane_shown(shown_name "${arg_LOG}")
  message(STATUS "Kestrane: ${count} source${s} from ${shown_name} (${told})")
  if(NOT left_out_shown STREQUAL "")
    # One status line each.
    string(REPLACE "\n" "\n--   " shown "${left_out_shown}")
    message(STATUS "  ${shown}")
  endif()

  _kestrane_build_step()
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()

# The step that runs kestrane on every build, from the variables of
# kestrane_sources(). Its list file is both a configure dependency and the
# output of a command that depends on an always-missing (SYMBOLIC) file, so
# the command runs on every build and replaces the list only when the new one
# differs.
function(_kestrane_build_step)
  set(verdict "${list_file}.verdict")
  # What the step needs, read by the script that it runs.
  set(settings "${list_file}.cmake")
  set(text "")
  foreach(setting IN ITEMS tool log root prefix extension timeout list_file explain verdict)
    _kestrane_quoted(value "${${setting}}")
    string(APPEND text "set(${setting} ${value})\n")
  endforeach()
  _kestrane_quoted(value "${CMAKE_CURRENT_SOURCE_DIR}")
  string(APPEND text "set(base ${value})\nset(allow_empty ${arg_ALLOW_EMPTY})\n")
  _kestrane_write_if_changed("${settings}" "${text}")
  set(step "${CMAKE_COMMAND}" "-DKESTRANE_SETTINGS=${settings}")
  set(module -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")

  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
  get_filename_component(log_name "${log}" NAME)
  _kestrane_shown(log_name "${log_name}")

  if(CMAKE_GENERATOR MATCHES "^Ninja")
    # Ninja runs this before it reads its build files, and not again in the
    # build (no target in it depends on ${check}_list): a refused log must
    # not stop Ninja there, or "clean" could not run. So the step notes why
    # in the verdict file, and ${check}, which every target of the folder
    # waits for, stops the build with it.
    set(always "${list_file}.always")
    set_source_files_properties("${always}" PROPERTIES SYMBOLIC TRUE)
    # Without a command, Ninja makes this a phony edge: nothing runs for it.
    add_custom_command(OUTPUT "${always}" COMMENT "")
    set(follow ${step} -DKESTRANE_STEP=follow ${module})
    if(CMAKE_HOST_UNIX)
      # The usual case, an unchanged list, without starting CMake or making
      # a file (so the lines left out are told anew only with a new list):
      # a shell and kestrane take a few milliseconds. The list comes
      # through a pipe (descriptor 3; the banner goes nowhere), a failure
      # adds a line that no list holds, and the dot keeps the last line feed.
      # A short list is compared by the shell itself, a long one by cmp. A
      # new list or a failure is the script's.
      set(shell "${dir}/step.sh")
      file(CONFIGURE OUTPUT "${shell}" @ONLY CONTENT [[
# kestrane_sources()'s step on every build: see Kestrane.cmake.
tool=$1 log=$2 list=$3 verdict=$4
shift 4
same=
if [ -f "$log" ] && [ -f "$list" ]; then
  new=$("$tool" --strict --allow-blanks "--input=$log" --output=/dev/fd/3 3>&1 > /dev/null 2>&1 ||
        echo ../failed; echo .)
  if [ ${#new} -gt 16384 ]; then
    printf %s "${new%.}" | cmp -s - "$list" && same=1
  else
    old=
    while [ ${#old} -lt ${#new} ] && IFS= read -r line; do old="$old$line
"; done < "$list"
    [ "$old." = "$new" ] && same=1
  fi
fi
if [ "$same" ]; then
  if [ -s "$verdict" ]; then : > "$verdict"; fi
  exit 0
fi
exec "$@"
]])
      # Read by the shell that runs the command, rather than by one more.
      set(follow set -- "${tool}" "${log}" "${list_file}" "${verdict}" ${follow}
          COMMAND . "${shell}")
    endif()
    add_custom_command(OUTPUT "${list_file}" COMMAND ${follow} DEPENDS "${always}"
                       COMMENT "Kestrane: listing ${log_name}" VERBATIM)
    add_custom_target(${check}_list DEPENDS "${list_file}")
    # Empty while the log is followed; written only when it changes.
    _kestrane_write_if_changed("${verdict}" "")
    add_custom_command(OUTPUT "${list_file}.checked"
                       COMMAND ${step} -DKESTRANE_STEP=verdict ${module}
                       DEPENDS "${verdict}" COMMENT "Kestrane: checking ${log_name}"
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

# The build step itself, run as "cmake -DKESTRANE_STEP=<step> ... -P Kestrane.cmake":
# - follow (Ninja): the new list replaces the old one when it differs and
#   passes the checks; a failure goes to the verdict file;
# - stop (other generators): the same, but a failure, or a new list, stops the
#   build;
# - verdict: stops the build with what the verdict file says, if anything.
function(_kestrane_step)
  include("${KESTRANE_SETTINGS}")
  if(KESTRANE_STEP STREQUAL "verdict")
    file(READ "${verdict}" said)
    if(NOT said STREQUAL "")
      message(FATAL_ERROR "${said}")
    endif()
    file(TOUCH "${list_file}.checked")
    return()
  endif()
  set(new "${list_file}.new")
  _kestrane_make_list(sources error OUTPUT "${new}" EXPLAIN "${explain}" TOOL "${tool}"
    LOG "${log}" ROOT "${root}" PREFIX "${prefix}" EXTENSION "${extension}" BASE "${base}"
    TIMEOUT "${timeout}" ALLOW_EMPTY "${allow_empty}")
  set(changed FALSE)
  if(error STREQUAL "")
    file(SHA256 "${new}" new_hash)
    set(old_hash "")
    if(EXISTS "${list_file}")
      file(SHA256 "${list_file}" old_hash)
    endif()
    if(NOT new_hash STREQUAL old_hash)
      file(RENAME "${new}" "${list_file}")
      set(changed TRUE)
    endif()
  endif()
  file(REMOVE "${new}")
  if(KESTRANE_STEP STREQUAL "follow")
    _kestrane_write_if_changed("${verdict}" "${error}")
  elseif(NOT error STREQUAL "")
    message(FATAL_ERROR "${error}")
  elseif(changed)
    _kestrane_shown(shown_log "${log}")
    message(FATAL_ERROR "kestrane_sources: the supplier's build log\n  ${shown_log}\n"
                        "lists other sources now; this build was set up for the "
                        "old list and stops here: build again to compile the new one")
  endif()
endfunction()

# Runs kestrane on LOG into OUTPUT, the lines left out into EXPLAIN, and reads
# the list back: sets <sources_var> to the sources, or <error_var> to a message
# that says why there are none.
function(_kestrane_make_list sources_var error_var)
  cmake_parse_arguments(PARSE_ARGV 2 arg ""
    "OUTPUT;EXPLAIN;TOOL;LOG;ROOT;PREFIX;EXTENSION;BASE;TIMEOUT;ALLOW_EMPTY" "")
  set(${sources_var} "" PARENT_SCOPE)
  set(list_file "${arg_OUTPUT}")
  set(log "${arg_LOG}")
  _kestrane_shown(shown_log "${log}")
  _kestrane_shown(shown_tool "${arg_TOOL}")
  set(the_log "the supplier's build log\n  ${shown_log}\n")

  if(NOT EXISTS "${log}")
    string(CONCAT error "kestrane_sources: the supplier's build log does not "
                        "exist:\n  ${shown_log}")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  endif()
  # A device or a pipe could be read for ever (a link to /dev/zero).
  _kestrane_regular_file(regular "${log}")
  if(NOT regular)
    string(CONCAT error "kestrane_sources: the supplier's build log is not a "
                        "regular file (a folder, a device or a pipe):\n  ${shown_log}")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  endif()

  # --allow-blanks lets "Source Files/main" through: a CMake list element may
  # hold blanks, and Windows tools name folders so. kestrane writes the
  # explanation only with the list: none is one from before, or from a
  # kestrane without --explain.
  file(REMOVE "${arg_EXPLAIN}")
  execute_process(
    COMMAND "${arg_TOOL}" --strict --allow-blanks "--input=${log}" "--output=${list_file}"
            "--explain=${arg_EXPLAIN}"
    TIMEOUT ${arg_TIMEOUT}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  # A number is the tool's exit status; anything else says why it did not run.
  if(status MATCHES "timeout")
    string(CONCAT error "kestrane_sources: kestrane\n  ${shown_tool}\ndid not finish "
                        "within ${arg_TIMEOUT} s on the supplier's build log\n  ${shown_log}\n"
                        "(give kestrane_sources() a longer TIMEOUT if the log is that large)")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  elseif(NOT status MATCHES "^-?[0-9]+$")
    _kestrane_shown(status "${status}")
    string(CONCAT error "kestrane_sources: could not run kestrane\n"
                        "  ${shown_tool}\non the supplier's build log\n"
                        "  ${shown_log}\n(${status})")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  elseif(NOT status EQUAL 0)
    # The identification lines come first; the message is the last line.
    string(STRIP "${output}" output)
    string(REGEX REPLACE "^.*\n" "" said "${output}")
    string(STRIP "${errors}" errors)
    if(NOT errors STREQUAL "")
      string(APPEND said "\n${errors}")
    endif()
    _kestrane_shown(said "${said}")
    string(CONCAT error "kestrane_sources: kestrane could not list the sources "
                        "of the supplier's build log\n  ${shown_log}\n"
                        "It said: ${said}\n(exit status ${status})")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  endif()

  # kestrane --strict refuses entries over 4096 bytes. One that ignores it
  # could have written a line of any length, which CMake would copy many
  # times over: the list is not read then. file(STRINGS) holds no more than
  # the piece it looks for.
  file(STRINGS "${list_file}" long LIMIT_COUNT 1 LENGTH_MINIMUM 4097 LENGTH_MAXIMUM 4097)
  if(NOT long STREQUAL "")
    _kestrane_shown(long "${long}")
    string(CONCAT error "kestrane_sources: the list of ${the_log}holds an entry "
                        "longer than 4096 bytes, which "
                        "kestrane --strict refuses; is\n  ${shown_tool}\na kestrane "
                        "without --strict? The entry begins:\n  ${long}")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  endif()

  # file(READ) drops the carriage return of a CR LF line end, so the list of
  # the Windows build reads like the native one.
  file(READ "${list_file}" text)
  # Only a kestrane that ignores --strict (one from before it) lists other
  # characters or blanks at the edge of a name; nothing it wrote goes further.
  unset(entry)
  if(NOT text MATCHES "^[-./0-9A-Z_a-z \n]*$")
    # Up to the first other character; from the line where it stands.
    string(REGEX MATCH "^[-./0-9A-Z_a-z \n]*." plain "${text}")
    string(FIND "${plain}" "\n" start REVERSE)
    math(EXPR start "${start} + 1")
    string(SUBSTRING "${text}" ${start} -1 entry)
    string(FIND "${entry}" "\n" end)
    string(SUBSTRING "${entry}" 0 ${end} entry)
  elseif("\n${text}" MATCHES "[\n/ ] | [\n/]")
    # Plain characters only: the lines make a list.
    string(REPLACE "\n" ";" entries "${text}")
    foreach(line IN LISTS entries)
      if("/${line}/" MATCHES "[/ ] | /")
        set(entry "${line}")
        break()
      endif()
    endforeach()
  endif()
  if(DEFINED entry)
    _kestrane_shown(entry "${entry}")
    string(CONCAT error "kestrane_sources: the list of ${the_log}holds an entry "
                        "that is not a plain relative "
                        "path, which kestrane --strict refuses; is\n  ${shown_tool}\n"
                        "a kestrane without --strict? The entry:\n  ${entry}")
    set(${error_var} "${error}" PARENT_SCOPE)
    return()
  endif()

  # Every entry ends with a line feed: the entries are the lines.
  if(text STREQUAL "")
    set(sources "")
    if(NOT arg_ALLOW_EMPTY)
      # An empty list is the log's own only when nothing was left out: that
      # is what ALLOW_EMPTY is for.
      _kestrane_left_out(left_out "${arg_EXPLAIN}")
      string(CONCAT error "kestrane_sources: ${the_log}lists no compiled source file")
      if(left_out_count STREQUAL "")
        string(APPEND error " (give ALLOW_EMPTY to accept an empty list)")
      elseif(left_out_count EQUAL 0)
        string(APPEND error ", and no line of it mentions \"compiling\" (give "
                            "ALLOW_EMPTY to accept an empty list)")
      else()
        string(REPLACE "\n" "\n  " shown "${left_out_shown}")
        string(APPEND error "; ${left_out_lines} were left out:\n  ${shown}")
      endif()
      set(${error_var} "${error}" PARENT_SCOPE)
      return()
    endif()
  else()
    string(REGEX REPLACE "\n$" "" sources "${text}")
    string(REPLACE "\n" ";" sources "${sources}")
  endif()
  set(text "")
  list(TRANSFORM sources PREPEND "${arg_PREFIX}")
  list(TRANSFORM sources APPEND "${arg_EXTENSION}")

  # An entry is a plain path, but the tree may hold a symbolic link that leads
  # out of it: the file, with every link resolved, must lie inside the root.
  file(REAL_PATH "${arg_ROOT}" real_root)
  string(REGEX REPLACE "/$" "" real_root "${real_root}")
  string(LENGTH "${real_root}/" root_length)
  foreach(source IN LISTS sources)
    get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${arg_BASE}")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      _kestrane_shown(path "${path}")
      string(CONCAT error "kestrane_sources: ${the_log}lists a source file that is "
                          "not there:\n  ${path}")
      set(${error_var} "${error}" PARENT_SCOPE)
      return()
    endif()
    file(REAL_PATH "${path}" real)
    string(SUBSTRING "${real}" 0 ${root_length} real_start)
    if(NOT real_start STREQUAL "${real_root}/")
      _kestrane_shown(path "${path}")
      _kestrane_shown(real "${real}")
      _kestrane_shown(real_root "${real_root}")
      string(CONCAT error "kestrane_sources: ${the_log}lists the source file\n"
                          "  ${path}\nwhich is, with symbolic links resolved,\n  ${real}\n"
                          "outside the root\n  ${real_root}")
      set(${error_var} "${error}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${sources_var} "${sources}" PARENT_SCOPE)
  set(${error_var} "" PARENT_SCOPE)
endfunction()

# What kestrane's explanation <explain> tells (kestrane --explain: a line
# "<line number>\t<reason>\t<the line, escaped>" for each log line that
# mentions "compiling" and gives no entry), in <out>_count (how many lines;
# empty when there is no explanation), <out>_lines ("<n> lines that mention
# \"compiling\"") and <out>_shown: the first five, a line each ("line <n>:
# <reason>: <the line>"), then "<n> more in <explain>" when there are more.
function(_kestrane_left_out out explain)
  set(${out}_count "" PARENT_SCOPE)
  set(${out}_shown "" PARENT_SCOPE)
  if(NOT EXISTS "${explain}")
    return()
  endif()
  # Each line holds two tabs, and only they, as the line itself is escaped:
  # counted a piece at a time, so memory stays small however many there are.
  file(SIZE "${explain}" size)
  set(tabs 0)
  set(offset 0)
  while(offset LESS size)
    file(READ "${explain}" piece OFFSET ${offset} LIMIT 1048576)
    string(LENGTH "${piece}" length)
    string(REPLACE "\t" "" piece "${piece}")
    string(LENGTH "${piece}" rest)
    math(EXPR tabs "${tabs} + ${length} - ${rest}")
    math(EXPR offset "${offset} + 1048576")
  endwhile()
  math(EXPR count "${tabs} / 2")
  set(${out}_count ${count} PARENT_SCOPE)
  if(count EQUAL 1)
    set(${out}_lines "1 line that mentions \"compiling\"" PARENT_SCOPE)
  else()
    set(${out}_lines "${count} lines that mention \"compiling\"" PARENT_SCOPE)
  endif()
  # The first five lines: each well under 1 KiB.
  file(READ "${explain}" head LIMIT 8192)
  string(REPLACE "\r" "" head "${head}")
  set(told "")
  set(shown 0)
  while(shown LESS 5 AND shown LESS count)
    string(FIND "${head}" "\n" end)
    if(end LESS 0)
      break()
    endif()
    string(SUBSTRING "${head}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${head}" ${end} -1 head)
    # kestrane escapes the line; whatever else a tool wrote there is shown as ?.
    string(REGEX REPLACE "[^ -~\t]" "?" line "${line}")
    string(REGEX REPLACE "^([^\t]*)\t([^\t]*)\t" "line \\1: \\2: " line "${line}")
    string(APPEND told "${line}\n")
    math(EXPR shown "${shown} + 1")
  endwhile()
  if(count GREATER shown)
    math(EXPR more "${count} - ${shown}")
    _kestrane_shown(explain "${explain}")
    string(APPEND told "${more} more in ${explain}\n")
  endif()
  string(REGEX REPLACE "\n$" "" told "${told}")
  set(${out}_shown "${told}" PARENT_SCOPE)
endfunction()

# Whether <path>, after links, is a regular file.
function(_kestrane_regular_file out_var path)
  set(regular FALSE)
  if(EXISTS "${path}" AND NOT IS_DIRECTORY "${path}")
    if(CMAKE_HOST_UNIX)
      execute_process(COMMAND test -f "${path}" RESULT_VARIABLE status)
      if(status EQUAL 0)
        set(regular TRUE)
      endif()
    else()
      # Windows: devices are names (NUL, COM1, CON.txt) or \\.\ paths.
      file(REAL_PATH "${path}" real)
      get_filename_component(name "${real}" NAME)
      string(TOUPPER "${name}" name)
      if(NOT real MATCHES "^//[.?]/" AND NOT name MATCHES
         "^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9]|CONIN[$]|CONOUT[$])([.].*)?$")
        set(regular TRUE)
      endif()
    endif()
  endif()
  set(${out_var} ${regular} PARENT_SCOPE)
endfunction()

# <text> as a quoted CMake argument.
function(_kestrane_quoted out_var text)
  string(REGEX REPLACE "([\\\\\"$])" "\\\\\\1" text "${text}")
  set(${out_var} "\"${text}\"" PARENT_SCOPE)
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

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED KESTRANE_STEP)
  _kestrane_step()
endif()
