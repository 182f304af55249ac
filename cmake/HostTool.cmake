# Kestrane as part of another project's build. kestrane_sources() runs the
# tool while that project is configured, before anything is built, and on
# the machine that builds, whatever the project targets. So the tool is built
# here and now, for this machine: a build tree of its own in the project's
# build tree, configured once with this machine's default compiler and
# brought up to date on every later configure (a no-op, unless Kestrane's
# sources changed).
#
# The project's own toolchain must not reach that build: not its toolchain
# file, nor the compiler variables of a cross environment. Its generator and
# make program run on this machine, so they are kept.

set(host_dir ${PROJECT_BINARY_DIR}/host)
set(host_config Release)

if(NOT EXISTS ${host_dir}/CMakeCache.txt)
  message(STATUS "Kestrane: building kestrane for this machine in ${host_dir}")
  set(host_args -G "${CMAKE_GENERATOR}" -DCMAKE_BUILD_TYPE=${host_config}
      -DKESTRANE_BUILD_TESTS=OFF)
  if(CMAKE_MAKE_PROGRAM)
    list(APPEND host_args -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM})
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            --unset=CMAKE_TOOLCHAIN_FILE --unset=CC --unset=CXX
            --unset=CFLAGS --unset=CXXFLAGS --unset=LDFLAGS --unset=RCFLAGS
            ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${host_dir} ${host_args}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    # Begin afresh on the next configure rather than reuse a half-made tree.
    file(REMOVE_RECURSE ${host_dir})
    message(FATAL_ERROR "Kestrane: could not configure the build of kestrane "
                        "for this machine in\n  ${host_dir}\n${output}")
  endif()
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${host_dir} --config ${host_config}
          --target kestrane
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Kestrane: could not build kestrane for this machine in\n"
                      "  ${host_dir}\n${output}")
endif()

file(READ ${host_dir}/kestrane-${host_config}.path host_kestrane)
add_executable(Kestrane::kestrane IMPORTED GLOBAL)
set_target_properties(Kestrane::kestrane PROPERTIES
  IMPORTED_LOCATION ${host_kestrane})
include(${CMAKE_CURRENT_LIST_DIR}/Kestrane.cmake)
