# find_package(Kestrane) reads this file. It gives:
#   Kestrane::kestrane   the kestrane executable, an imported target;
#   KESTRANE_EXECUTABLE  its path, unless already set (set it to use another);
#   kestrane_sources()   the function that runs it on a supplier's build log
#                        while the project is configured (see Kestrane.cmake).

include("${CMAKE_CURRENT_LIST_DIR}/KestraneTargets.cmake")
if(NOT KESTRANE_EXECUTABLE)
  get_target_property(KESTRANE_EXECUTABLE Kestrane::kestrane LOCATION)
endif()
include("${CMAKE_CURRENT_LIST_DIR}/Kestrane.cmake")
