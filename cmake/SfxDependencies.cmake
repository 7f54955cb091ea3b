# zlib and Crypto++ for both builds, as imported targets ZLIB::ZLIB and sfx::cryptopp.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)  # the stub is static: link libz.a, never the DLL import library
endif()
find_package(ZLIB REQUIRED)

if(WIN32)
  # Crypto++ cross-built by scripts/setup-machine.sh for each Windows target, cached outside the
  # clone; a file in the cache names the folder of each target's build.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_pathfile cryptopp-mingw64.path)
  else()
    set(_pathfile cryptopp-mingw32.path)
  endif()
  if(NOT CRYPTOPP_ROOT)
    set(_cache "$ENV{SFXSTUB_CACHE}")
    if(NOT _cache)
      if(DEFINED ENV{XDG_CACHE_HOME})
        set(_cache "$ENV{XDG_CACHE_HOME}/sfxstub")
      else()
        set(_cache "$ENV{HOME}/.cache/sfxstub")
      endif()
    endif()
    if(EXISTS "${_cache}/${_pathfile}")
      file(STRINGS "${_cache}/${_pathfile}" _root LIMIT_COUNT 1)
      set(CRYPTOPP_ROOT "${_root}" CACHE PATH "Crypto++ built for the Windows target")
    endif()
  endif()
  if(NOT EXISTS "${CRYPTOPP_ROOT}/lib/libcryptopp.a")
    message(FATAL_ERROR "Crypto++ for ${CMAKE_SYSTEM_PROCESSOR} Windows not found (CRYPTOPP_ROOT='${CRYPTOPP_ROOT}'): "
                        "run scripts/setup-machine.sh first")
  endif()
  add_library(sfx::cryptopp STATIC IMPORTED)
  set_target_properties(sfx::cryptopp PROPERTIES
    IMPORTED_LOCATION "${CRYPTOPP_ROOT}/lib/libcryptopp.a"
    INTERFACE_INCLUDE_DIRECTORIES "${CRYPTOPP_ROOT}/include"
    INTERFACE_COMPILE_DEFINITIONS CRYPTOPP_DISABLE_ASM)  # as the library was built: same layouts
else()
  find_path(CRYPTOPP_INCLUDE_DIR cryptopp/integer.h REQUIRED)
  find_library(CRYPTOPP_LIBRARY NAMES cryptopp crypto++ REQUIRED)
  add_library(sfx::cryptopp UNKNOWN IMPORTED)
  set_target_properties(sfx::cryptopp PROPERTIES
    IMPORTED_LOCATION "${CRYPTOPP_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${CRYPTOPP_INCLUDE_DIR}")
endif()
