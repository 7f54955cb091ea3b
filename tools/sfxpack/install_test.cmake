# Installs sfxpack into a scratch root, twice: with `cmake --install --prefix`, and from the
# Debian package CPack makes, unpacked with `dpkg -x`. Each time every file the package should
# hold must be there, the shipped stubs must be the build's generic stubs byte for byte, and the
# installed tool must run and make a package with its own stubs alone (the Windows trees' test
# e2e_installed-sfxpack runs one under Wine). The Debian package must also:
#   - carry one version: its own, `sfxpack --version`'s and the manual page's;
#   - hold a stripped binary that finds nothing through a run path (no RPATH or RUNPATH), so
#     that it runs with the system's libraries only;
#   - declare every library the binary loads: ldd's every library belongs to a package that
#     Depends names, or to one that such a package depends on;
#   - pass lintian without an error (when lintian is at hand).
# Arguments: -DBUILD_DIR=<the build folder> -DSCRATCH=<a folder this test may wipe>
#            -DSTUBS=<the generic 32-bit stub>;<the 64-bit one> [-DLINTIAN=<lintian>].
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${SCRATCH})

# What an installed sfxpack consists of, under its prefix.
set(INSTALLED_FILES
    bin/sfxpack
    share/man/man1/sfxpack.1.gz
    share/doc/sfxpack/copyright
    share/doc/sfxpack/changelog.gz
    share/sfxpack/sfxstub.exe
    share/sfxpack/sfxstub64.exe)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(RUN_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

# The installed tool runs: its version, a help text, and a key made, used and checked (which
# needs every library it links).
function(check_installed root)
  foreach(name IN LISTS INSTALLED_FILES)
    if(NOT EXISTS ${root}/${name})
      message(FATAL_ERROR "${root}/${name} was not installed")
    endif()
  endforeach()
  set(tool ${root}/bin/sfxpack)
  run(${tool} --version)
  if(NOT RUN_OUTPUT MATCHES "^sfxpack [0-9]" OR
     NOT RUN_OUTPUT MATCHES "--arch x86: sfxstub.exe [0-9.]+, 32-bit Windows \\(PE32\\), [0-9]+ bytes, generic" OR
     NOT RUN_OUTPUT MATCHES "--arch x64: sfxstub64.exe [0-9.]+, 64-bit Windows \\(PE32\\+\\), [0-9]+ bytes, generic")
    message(FATAL_ERROR "the installed sfxpack says: ${RUN_OUTPUT}")
  endif()
  list(GET STUBS 0 x86)
  list(GET STUBS 1 x64)
  foreach(pair "${x86};sfxstub.exe" "${x64};sfxstub64.exe")
    list(GET pair 0 built)
    list(GET pair 1 name)
    run(cmp ${built} ${root}/share/sfxpack/${name})
  endforeach()
  run(${tool} help pack)
  run(${tool} keygen ${root}/try-key)
  file(WRITE ${root}/try-file "installed\n")
  run(${tool} sign --kind binary --key ${root}/try-key.pem ${root}/try-file)
  run(${tool} verify --key ${root}/try-key.pub.pem ${root}/try-file)
  # A package of each width from the shipped stubs alone (a stub serves as the main program),
  # checked with the key its stub carries.
  foreach(arch x86 x64)
    run(${tool} pack --arch ${arch} --key ${root}/try-key.pem --main ${root}/share/sfxpack/sfxstub.exe
        --cmdline /q -o ${root}/try-${arch}.exe)
    run(${tool} verify ${root}/try-${arch}.exe)
    file(REMOVE ${root}/try-${arch}.exe)
  endforeach()
  file(REMOVE ${root}/try-key.pem ${root}/try-key.pub.pem ${root}/try-file)
endfunction()

# The package names of a Depends field, without versions or alternatives' bars.
function(package_names field out)
  string(REGEX REPLACE "\\([^)]*\\)" "" field "${field}")
  string(REGEX REPLACE "[ \n]" "" field "${field}")
  string(REPLACE "|" "," field "${field}")
  string(REPLACE "," ";" names "${field}")
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The package that owns `library` on this system (dpkg knows some under /lib, some under /usr/lib).
function(owner_of library out)
  get_filename_component(real ${library} REALPATH)
  foreach(path ${library} ${real})
    string(REGEX REPLACE "^/usr/lib/" "/lib/" short ${path})
    string(REGEX REPLACE "^/lib/" "/usr/lib/" long ${path})
    foreach(candidate ${path} ${short} ${long})
      execute_process(COMMAND dpkg -S ${candidate} RESULT_VARIABLE rc OUTPUT_VARIABLE owner ERROR_QUIET)
      if(rc EQUAL 0)
        string(REGEX REPLACE "[:,].*" "" owner "${owner}")
        set(${out} ${owner} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# Every library ldd resolves for `binary` belongs to a declared package or to a dependency of one.
function(check_dependencies binary depends)
  package_names("${depends}" declared)
  set(allowed ${declared})
  foreach(name IN LISTS declared)
    execute_process(COMMAND dpkg-query -W -f=\${Depends},\${Pre-Depends} ${name}
                    OUTPUT_VARIABLE theirs ERROR_QUIET)
    package_names("${theirs}" more)
    list(APPEND allowed ${more})
  endforeach()
  run(readelf -d ${binary})
  if(RUN_OUTPUT MATCHES "RPATH|RUNPATH")
    message(FATAL_ERROR "${binary} has a run path:\n${RUN_OUTPUT}")
  endif()
  run(ldd ${binary})
  if(RUN_OUTPUT MATCHES "not found")
    message(FATAL_ERROR "${binary} needs a library that is not there:\n${RUN_OUTPUT}")
  endif()
  string(REGEX MATCHALL "=> (/[^ ]+)" resolved "${RUN_OUTPUT}")
  foreach(entry IN LISTS resolved)
    string(REGEX REPLACE "^=> " "" library "${entry}")
    owner_of(${library} owner)
    if(owner STREQUAL "" OR NOT owner IN_LIST allowed)
      message(FATAL_ERROR "${binary} loads ${library} (package '${owner}'), which Depends "
                          "(${depends}) does not declare")
    endif()
  endforeach()
endfunction()

function(check_debian_package deb root)
  run(dpkg-deb --field ${deb} Package Version Depends)
  set(control "${RUN_OUTPUT}")
  if(NOT control MATCHES "Package: sfxpack")
    message(FATAL_ERROR "the .deb is not the sfxpack package:\n${control}")
  endif()
  string(REGEX MATCH "Version: ([^\n]+)" ignored "${control}")
  set(version ${CMAKE_MATCH_1})
  string(REGEX MATCH "Depends: ([^\n]+)" ignored "${control}")
  set(depends "${CMAKE_MATCH_1}")
  run(${root}/bin/sfxpack --version)
  if(NOT RUN_OUTPUT MATCHES "^sfxpack ${version}\n" OR
     NOT RUN_OUTPUT MATCHES "sfxstub.exe ${version}, .*sfxstub64.exe ${version}, ")
    message(FATAL_ERROR "the package is version ${version}, the tool says: ${RUN_OUTPUT}")
  endif()
  run(gzip -dc ${root}/share/man/man1/sfxpack.1.gz)
  if(NOT RUN_OUTPUT MATCHES "\\.TH SFXPACK 1 \"[^\"]*\" \"sfxpack ${version}\"")
    message(FATAL_ERROR "the manual page does not carry version ${version}")
  endif()
  run(readelf -S ${root}/bin/sfxpack)
  if(RUN_OUTPUT MATCHES "\\.debug_|\\.symtab")
    message(FATAL_ERROR "the packaged sfxpack is not stripped")
  endif()
  check_dependencies(${root}/bin/sfxpack "${depends}")
  if(LINTIAN)
    run(${LINTIAN} --fail-on error ${deb})
    message(STATUS "lintian: ${RUN_OUTPUT}")
  else()
    message(STATUS "lintian is not at hand; the package was not checked with it")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}/prefix --component sfxpack)
check_installed(${SCRATCH}/prefix)

file(MAKE_DIRECTORY ${SCRATCH}/deb)
run(${CMAKE_CPACK_COMMAND} -G DEB -B ${SCRATCH}/deb --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB debs ${SCRATCH}/deb/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} .deb files: ${debs}")
endif()
run(dpkg -x ${debs} ${SCRATCH}/root)
check_installed(${SCRATCH}/root/usr)
check_debian_package(${debs} ${SCRATCH}/root/usr)
file(REMOVE_RECURSE ${SCRATCH})
