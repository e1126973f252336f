# Installs the build tree into a fresh PREFIX and checks what is there.
#   cmake -DBUILD=... -DPREFIX=... -DLIBDIR=lib -DVERSION=1.2.0 -DMAN=0|1 -P install_prefix.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

string(REGEX MATCH "^[0-9]+" major ${VERSION})
set(expected
  ${LIBDIR}/libmorvik.so.${VERSION} ${LIBDIR}/libmorvik.so.${major} ${LIBDIR}/libmorvik.so ${LIBDIR}/libmorvik.a
  ${LIBDIR}/cmake/Morvik/MorvikConfig.cmake ${LIBDIR}/cmake/Morvik/MorvikConfigVersion.cmake
  ${LIBDIR}/cmake/Morvik/MorvikTargets.cmake ${LIBDIR}/pkgconfig/morvik.pc
  include/morvik/morvik.h include/morvik/rc2.h include/morvik/hex.h include/morvik/blind_ascii.h
  include/morvik/error.h include/morvik/export.h include/morvik/version.h include/morvik/cp1252.h
  bin/morvik share/doc/morvik/LICENSE)
if(MAN)
  list(APPEND expected share/man/man1/morvik.1)
  list(APPEND expected share/bash-completion/completions/morvik share/zsh/vendor-completions/_morvik
                       share/fish/vendor_completions.d/morvik.fish share/doc/morvik/guides/migrating.md)
endif()
set(faults "")
foreach(f ${expected})
  if(NOT EXISTS ${PREFIX}/${f})
    string(APPEND faults "missing ${f}\n")
  endif()
endforeach()
file(GLOB_RECURSE internal RELATIVE ${PREFIX} ${PREFIX}/include/*detail* ${PREFIX}/include/*/x86/* ${PREFIX}/include/*block.h ${PREFIX}/include/*pitable.h)
foreach(f ${internal})
  string(APPEND faults "internal header installed: ${f}\n")
endforeach()
file(GLOB_RECURSE everything RELATIVE ${PREFIX} ${PREFIX}/include/*)
foreach(f ${everything})
  if(NOT f MATCHES "^include/morvik/[a-z0-9_]+\\.h$")
    string(APPEND faults "unexpected file in include/: ${f}\n")
  endif()
endforeach()

execute_process(COMMAND readelf -d ${PREFIX}/${LIBDIR}/libmorvik.so.${VERSION} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT dynamic MATCHES "Library soname: \\[libmorvik\\.so\\.${major}\\]")
  string(APPEND faults "libmorvik.so.${VERSION} has no SONAME libmorvik.so.${major}\n")
endif()

if(faults)
  message(FATAL_ERROR "${PREFIX}:\n${faults}")
endif()
list(LENGTH everything headers)
message(STATUS "installed into ${PREFIX}: ${headers} headers, libraries with SONAME libmorvik.so.${major}")
