# GoogleTest for all builds and the rules that run tests: natively as they are, in the Windows
# builds under Wine in a private prefix of the build's width under the build folder.
#
#   sfx_add_gtest(NAME SOURCES src... [LIBS lib...] [LABELS label...])
#       builds a GoogleTest executable and registers it with CTest (under Wine in the Windows build);
#       it links the tests' shared helpers (tests/common) besides LIBS.
#   sfx_add_wine_test(NAME COMMAND exe args... [LABELS ...])   (Windows build only)
#       registers a Windows program as a test run under Wine.
#   SFXSTUB_WINE_ENV: the environment (list of VAR=value) every Wine test runs with; WINE and
#       WINESERVER in it name the loader and server that test scripts must call.

if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(SFX_GTEST_LIB gtest)
  set(SFX_GTEST_LIBS gtest gtest_main)

  # Each Windows build runs under the Wine of its own width, in a prefix of that width. The
  # 64-bit loader and server are named directly: Debian's `wine` and `wineserver` wrappers pick
  # the 32-bit programs whenever wine32 is installed, and those cannot start on a host that runs
  # no 32-bit code. WINE and WINESERVER reach every test script; Wine itself starts the server
  # named by WINESERVER, and child programs through WINELOADER.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SFXSTUB_WINEARCH win64)
    find_program(WINE_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
    find_program(WINESERVER_PROGRAM wineserver64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
    set(_loader "WINELOADER=${WINE_PROGRAM}")
  else()
    set(SFXSTUB_WINEARCH win32)
    find_program(WINE_PROGRAM wine REQUIRED)
    find_program(WINESERVER_PROGRAM wineserver REQUIRED)
    set(_loader)
  endif()
  # SFXSTUB_WINE_TOOLS_ENV: which Wine, for scripts that make prefixes of their own.
  set(SFXSTUB_WINE_TOOLS_ENV
      "WINEARCH=${SFXSTUB_WINEARCH}" "WINE=${WINE_PROGRAM}" "WINESERVER=${WINESERVER_PROGRAM}" ${_loader})
  set(SFXSTUB_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(SFXSTUB_WINE_ENV
      "WINEPREFIX=${SFXSTUB_WINEPREFIX}" "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml=$<SEMICOLON>winedbg.exe=d" "DISPLAY="
      ${SFXSTUB_WINE_TOOLS_ENV})

  # A native build supplies the build-time generators (sfxgen) and sfxpack for the tests.
  set(SFXSTUB_NATIVE_BUILD "${CMAKE_SOURCE_DIR}/build/native" CACHE PATH "Native build folder with sfxgen and sfxpack")
  set(SFXGEN "${SFXSTUB_NATIVE_BUILD}/tools/sfxgen/sfxgen")
  set(SFXPACK "${SFXSTUB_NATIVE_BUILD}/tools/sfxpack/sfxpack")
  if(NOT EXISTS "${SFXGEN}")
    message(FATAL_ERROR "sfxgen not found at ${SFXGEN}: build the native tree first (SFXSTUB_NATIVE_BUILD)")
  endif()

  # The prefix is made once by a fixture that every Wine test requires, and reused afterwards.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_COMMAND} -E env ${SFXSTUB_WINE_ENV}
                   bash ${CMAKE_SOURCE_DIR}/tests/wine/make-prefix.sh)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
else()
  find_package(GTest REQUIRED)
  set(SFX_GTEST_LIB GTest::gtest)
  set(SFX_GTEST_LIBS GTest::gtest GTest::gtest_main)
  set(SFXGEN $<TARGET_FILE:sfxgen>)
  set(SFXPACK $<TARGET_FILE:sfxpack>)
endif()

function(sfx_add_wine_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "COMMAND;LABELS;ENV" ${ARGN})
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env ${SFXSTUB_WINE_ENV} ${ARG_ENV} ${WINE_PROGRAM} ${ARG_COMMAND})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineprefix TIMEOUT ${ARG_TIMEOUT}
                       LABELS "wine;${ARG_LABELS}")
endfunction()

function(sfx_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} sfx_test_support ${SFX_GTEST_LIBS})
  target_compile_definitions(${name} PRIVATE
    SFXSTUB_TEST_PRIVATE_KEY="${SFXSTUB_TEST_SIGNER_PRIVATE_KEY}"
    SFXSTUB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(WIN32)
    sfx_add_wine_test(${name} COMMAND $<TARGET_FILE:${name}> ${ARG_ARGS} LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT})
  else()
    add_test(NAME ${name} COMMAND ${name} ${ARG_ARGS})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "native;${ARG_LABELS}")
  endif()
endfunction()
