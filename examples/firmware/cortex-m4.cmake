# A bare-metal toolchain file as firmware projects write them: Arm's GNU
# toolchain (Debian: gcc-arm-none-eabi, with libnewlib-arm-none-eabi) for a
# Cortex-M4, programs linked with newlib's system-call stubs (nosys.specs).
#   cmake -S . -B build --toolchain cortex-m4.cmake -DCMAKE_PREFIX_PATH=<prefix>
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-m4 -mthumb")
set(CMAKE_EXE_LINKER_FLAGS_INIT "--specs=nosys.specs")
# A real firmware links with its own startup code and linker script, which
# CMake's compiler checks lack: they build a library instead of a program.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# The target's headers and libraries, and packages built for it, are taken
# from its root only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/lib/arm-none-eabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
