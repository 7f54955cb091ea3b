# How the Windows build makes the stub itself (sfxstub/main/CMakeLists.txt uses this).
#
# The Windows toolchains use mingw-w64's posix thread model, so that std::thread and std::mutex
# exist for GoogleTest. With it the static runtime links winpthreads into every program, and
# winpthreads imports kernel32 calls that Windows XP and Server 2003 lack (GetTickCount64 among
# them): such a program does not even start there. The stub needs no C++ threads (its progress
# thread is a plain CreateThread), so it is built by the same toolchain's win32 thread model
# compilers, which link no winpthreads: the toolchain's C and C++ compilers with "-posix" at the
# end of their names replaced by "-win32" (i686-w64-mingw32-g++-posix gives
# i686-w64-mingw32-g++-win32, x86_64-w64-mingw32-g++-posix gives x86_64-w64-mingw32-g++-win32).
# A toolchain whose compilers are not "-posix" ones builds the stub with its own compilers.
#
# The stub is also compiled unlike the tests: without exceptions and run-time type information,
# which the GoogleTest programs need and the stub does not (its allocation failures are handled
# where they happen), and for size (sfxstub/main/CMakeLists.txt has the link). Every library it
# links is compiled that way too, so the stub always comes from a configuration of its own.
#
# One CMake build has one compiler per language and one set of flags, so the stub comes from a
# second configuration of this source tree in <build>/stub (SFXSTUB_STUB_ONLY), with a toolchain
# file written here that includes this build's toolchain file and sets the stub's compilers; only
# its `sfxstub` target is built, and the program is copied to SFXSTUB_EXE. In this build `sfxstub`
# is the target that does all that.
#
# Sets:
#   SFXSTUB_STUB_SUBBUILD   ON when the stub comes from the second configuration (in every
#                           Windows build but the stub's own)
#   SFXSTUB_STUB_TOOLCHAIN  the toolchain file the stub is built with
#   SFXSTUB_STUB_CMAKE_ARGS the cache settings a configuration that builds the stub needs, the
#                           toolchain file included (also used by the reproducibility test)

# ON only in the stub's own configuration; set by the build that makes it.
option(SFXSTUB_STUB_ONLY "This configuration builds the stub alone, with the stub's flags" OFF)
mark_as_advanced(SFXSTUB_STUB_ONLY)

# The stub's PE time stamp, set after the link with its checksum (sfxgen pe-stamp): these seconds
# since 1970 when given, by default SOURCE_DATE_EPOCH of the environment the build folder was first
# configured in; when empty, a date derived from the image's own bytes (tools/sfxgen/pe_stamp.h).
set(SFXSTUB_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}" CACHE STRING
    "The stub's PE time stamp (seconds since 1970); empty: derived from the image's content")

set(SFXSTUB_STUB_SUBBUILD OFF)
set(SFXSTUB_STUB_TOOLCHAIN "${CMAKE_TOOLCHAIN_FILE}")
if(NOT SFXSTUB_STUB_ONLY)
  set(_sfx_stub_cxx "${CMAKE_CXX_COMPILER}")
  set(_sfx_stub_cc "${CMAKE_C_COMPILER}")
  if(CMAKE_CXX_COMPILER MATCHES "-posix$" AND CMAKE_C_COMPILER MATCHES "-posix$")
    string(REGEX REPLACE "-posix$" "-win32" _sfx_stub_cxx "${CMAKE_CXX_COMPILER}")
    string(REGEX REPLACE "-posix$" "-win32" _sfx_stub_cc "${CMAKE_C_COMPILER}")
    if(NOT EXISTS "${_sfx_stub_cxx}" OR NOT EXISTS "${_sfx_stub_cc}")
      message(FATAL_ERROR "The stub is built with the win32 thread model, but ${_sfx_stub_cc} or "
                          "${_sfx_stub_cxx} is missing (Debian: package g++-mingw-w64-*-win32)")
    endif()
  endif()
  set(SFXSTUB_STUB_SUBBUILD ON)
  set(SFXSTUB_STUB_TOOLCHAIN "${CMAKE_BINARY_DIR}/stub-toolchain.cmake")
  set(_sfx_stub_toolchain_text "# Written by cmake/SfxStubBuild.cmake: the build's toolchain with its win32 thread model compilers.\n")
  if(CMAKE_TOOLCHAIN_FILE)
    string(APPEND _sfx_stub_toolchain_text "include(\"${CMAKE_TOOLCHAIN_FILE}\")\n")
  else()
    string(APPEND _sfx_stub_toolchain_text
      "set(CMAKE_SYSTEM_NAME ${CMAKE_SYSTEM_NAME})\n"
      "set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_SYSTEM_PROCESSOR})\n"
      "set(CMAKE_RC_COMPILER \"${CMAKE_RC_COMPILER}\")\n"
      "set(CMAKE_FIND_ROOT_PATH \"${CMAKE_FIND_ROOT_PATH}\")\n")
  endif()
  string(APPEND _sfx_stub_toolchain_text
    "set(CMAKE_C_COMPILER \"${_sfx_stub_cc}\")\n"
    "set(CMAKE_CXX_COMPILER \"${_sfx_stub_cxx}\")\n")
  file(CONFIGURE OUTPUT "${SFXSTUB_STUB_TOOLCHAIN}" CONTENT "${_sfx_stub_toolchain_text}" @ONLY)
endif()

set(SFXSTUB_STUB_CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${SFXSTUB_STUB_TOOLCHAIN}"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    "-DSFXSTUB_SIGNER_KEY=${SFXSTUB_SIGNER_KEY}"
    "-DSFXSTUB_NATIVE_BUILD=${SFXSTUB_NATIVE_BUILD}"
    "-DSFXSTUB_SOURCE_DATE_EPOCH=${SFXSTUB_SOURCE_DATE_EPOCH}"
    "-DSFXSTUB_STUB_ONLY=ON")

if(SFXSTUB_STUB_ONLY)
  # No exceptions and no run-time type information: nothing in the stub throws or catches, and
  # without them the C++ runtime's throwing, unwinding and name-demangling code stays out of the
  # image. Every function and object in a section of its own, so the link drops what is unused.
  # C++20 for the stub, because the C++ library then makes the std::string members a program
  # uses in the program's own objects, compiled as they are (without exceptions), instead of
  # taking its prebuilt copy of all of them, which throws. The code itself is C++17 and is built
  # as such everywhere else.
  set(CMAKE_CXX_STANDARD 20)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions;-fno-rtti>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections;-fdata-sections>")
endif()
