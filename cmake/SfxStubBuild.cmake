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
#
# One CMake build has one compiler per language, so the stub comes from a second configuration
# of this source tree in <build>/stub, with a toolchain file written here that includes this
# build's toolchain file and sets the win32 compilers; only its `sfxstub` target is built, and
# the program is copied to SFXSTUB_EXE. In this build `sfxstub` is the target that does all that.
# A build whose compilers are not "-posix" ones (the stub's own build in <build>/stub among them)
# builds the stub directly.
#
# Sets:
#   SFXSTUB_STUB_SUBBUILD   ON when the stub comes from the second configuration
#   SFXSTUB_STUB_TOOLCHAIN  the toolchain file the stub is built with
#   SFXSTUB_STUB_CMAKE_ARGS the cache settings a configuration that builds the stub needs, the
#                           toolchain file included (also used by the reproducibility test)

set(SFXSTUB_STUB_SUBBUILD OFF)
set(SFXSTUB_STUB_TOOLCHAIN "${CMAKE_TOOLCHAIN_FILE}")
if(CMAKE_CXX_COMPILER MATCHES "-posix$" AND CMAKE_C_COMPILER MATCHES "-posix$")
  string(REGEX REPLACE "-posix$" "-win32" _sfx_stub_cxx "${CMAKE_CXX_COMPILER}")
  string(REGEX REPLACE "-posix$" "-win32" _sfx_stub_cc "${CMAKE_C_COMPILER}")
  if(NOT EXISTS "${_sfx_stub_cxx}" OR NOT EXISTS "${_sfx_stub_cc}")
    message(FATAL_ERROR "The stub is built with the win32 thread model, but ${_sfx_stub_cc} or "
                        "${_sfx_stub_cxx} is missing (Debian: package g++-mingw-w64-*-win32)")
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
    "-DSFXSTUB_NATIVE_BUILD=${SFXSTUB_NATIVE_BUILD}")
