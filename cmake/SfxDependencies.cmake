# zlib for both builds (ZLIB::ZLIB); Crypto++ natively (sfx::cryptopp), where sfxpack signs and
# the tests compare the stub's own MD5 and DSA arithmetic with it. The Windows builds need no
# Crypto++: the stub has its own arithmetic, and their tests take their signatures from the
# native build (tests/common/test_signer.h). Everything comes from Debian's packages.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)  # the stub is static: link libz.a, never the DLL import library
endif()
find_package(ZLIB REQUIRED)

if(NOT WIN32)
  find_path(CRYPTOPP_INCLUDE_DIR cryptopp/integer.h REQUIRED)
  find_library(CRYPTOPP_LIBRARY NAMES cryptopp crypto++ REQUIRED)
  add_library(sfx::cryptopp UNKNOWN IMPORTED)
  set_target_properties(sfx::cryptopp PROPERTIES
    IMPORTED_LOCATION "${CRYPTOPP_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${CRYPTOPP_INCLUDE_DIR}")
endif()
