# The hardening Debian gives its packages (dpkg-buildflags), for every build of the project: the
# presets, the quick start's plain Release configure, a build by hand. scripts/check-hardening.sh
# checks the programs for it.
#  - stack protector for functions with arrays or addresses taken (-fstack-protector-strong);
#  - checked string and memory functions (_FORTIFY_SOURCE: 3 where compiler and C library
#    have it, 2 otherwise, mingw-w64's 2 on Windows), where the code is optimised;
#  - Linux: position-independent executables, read-only relocations bound at start-up
#    (-z relro -z now);
#  - Windows: address space layout randomisation with high entropy, data execution prevention.
# The sanitizer and fuzz builds keep the stack protector and the linker's part; they leave out
# _FORTIFY_SOURCE, whose checked functions would stand between the sanitizers and the calls.

add_compile_options(-fstack-protector-strong)
if(WIN32)
  # mingw-w64 keeps the protector's and the checked functions' runtime in libssp, which the
  # compiler links when it sees the flag at the link too.
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
else()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

if(NOT (KVELV_SANITIZE OR KVELV_TSAN OR KVELV_BUILD_FUZZERS))
  set(KVELV_FORTIFY_LEVEL 2)
  if(NOT WIN32 AND ((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
                    OR (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 10)))
    # Level 3 also checks sizes known only at run time (glibc 2.34 and later; older ones take it as 2).
    set(KVELV_FORTIFY_LEVEL 3)
  endif()
  # Only where the code is optimised: without optimisation the C library warns and checks nothing.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${KVELV_FORTIFY_LEVEL}>")
endif()
