# Hardening of the optimised builds (Release, RelWithDebInfo, MinSizeRel),
# with what the compiler and linker at hand offer: the log that kestrane reads
# is someone else's. Each flag is tried first, so a compiler or linker that
# lacks one builds without it.
#
#   ELF (Linux and the like): a stack protector for functions with arrays or
#   addresses taken (-fstack-protector-strong), the C library's checked
#   buffer functions (_FORTIFY_SOURCE, level 3 where the compiler can size
#   objects at run time, else 2), a position-independent executable, and
#   relocations made read-only after start-up, all bound then (full RELRO,
#   BIND_NOW). On x86, -fcf-protection marks the objects for CET (indirect
#   branch tracking and shadow stacks), but the linker marks a program only
#   when every object it links is marked, and Debian 12's C library start
#   files (Scrt1.o, crti.o, crtn.o) and its atexit (libc_nonshared.a) are
#   not: there the program carries no CET mark and neither is in effect.
#   It takes effect, with no change here, where the C library's are marked.
#   Windows: ASLR with high-entropy addresses and NX. MSVC gives those, and
#   its stack protector (/GS), by default; with MinGW-w64 they are asked for.
#
# KESTRANE_HARDENING=OFF leaves it all out; the sanitizer and fuzzing builds
# do, as _FORTIFY_SOURCE hides from the sanitizers the overflows they check.

option(KESTRANE_HARDENING "Harden the optimised builds where the toolchain can" ON)
if(NOT KESTRANE_HARDENING OR MSVC)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)

set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")

if(WIN32)
  set(link_flags -Wl,--dynamicbase,--high-entropy-va,--nxcompat)
  check_linker_flag(CXX "${link_flags}" KESTRANE_HAVE_WINDOWS_ASLR_NX)
  if(KESTRANE_HAVE_WINDOWS_ASLR_NX)
    add_link_options("$<${optimised}:${link_flags}>")
  endif()
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES CXX)

set(compile_flags "")
check_cxx_compiler_flag(-fstack-protector-strong KESTRANE_HAVE_STACK_PROTECTOR)
if(KESTRANE_HAVE_STACK_PROTECTOR)
  list(APPEND compile_flags -fstack-protector-strong)
endif()
check_cxx_compiler_flag(-fcf-protection KESTRANE_HAVE_CF_PROTECTION)
if(KESTRANE_HAVE_CF_PROTECTION)
  list(APPEND compile_flags -fcf-protection)
endif()
# A compiler may define _FORTIFY_SOURCE itself; it is set anew, not redefined.
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles("
  #if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
  #error no object sizes at run time
  #endif
  int main() { return 0; }" KESTRANE_HAVE_FORTIFY_3)
unset(CMAKE_REQUIRED_QUIET)
if(KESTRANE_HAVE_FORTIFY_3)
  list(APPEND compile_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3)
else()
  list(APPEND compile_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()
add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,${optimised}>:${compile_flags}>")

check_linker_flag(CXX -Wl,-z,relro,-z,now KESTRANE_HAVE_RELRO_NOW)
if(KESTRANE_HAVE_RELRO_NOW)
  add_link_options("$<${optimised}:-Wl,-z,relro,-z,now>")
endif()
