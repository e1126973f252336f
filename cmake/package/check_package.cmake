# Builds a release package with CPack and checks what it holds.
#   cmake -DKIND=DEB|ZIP -DBUILD=<build dir> -DWORK=<scratch dir> -DVERSION=1.2.0 [-DMAN=1]
#         [-DC_COMPILER=... -DCXX_COMPILER=... -DCONSUMERS=<dir of consumers.cmake and consumer/>] -P check_package.cmake
# DEB: dpkg-deb --contents must list the libraries, headers, CMake and
# pkg-config files, the tool and its man page, and nothing internal; the
# package is then unpacked into a scratch root, where the tool runs and the
# consumers build through the package's pkg-config file.
# ZIP: unzip -l must list Morvik.dll, the two scripts, README and LICENSE
# (and morvik.exe where the Windows tool is built).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command} failed (${status}):\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

run(cpack -G ${KIND} --config ${BUILD}/CPackConfig.cmake -B ${WORK})
file(GLOB package ${WORK}/*.deb ${WORK}/*.zip)
list(LENGTH package count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages: ${package}")
endif()

set(faults "")
if(KIND STREQUAL "DEB")
  run(dpkg-deb --contents ${package})
  set(listing "${output}")
  string(REGEX MATCH "^[0-9]+" major ${VERSION})
  set(expected usr/lib/libmorvik.so.${VERSION} usr/lib/libmorvik.so.${major} usr/lib/libmorvik.so usr/lib/libmorvik.a
               usr/include/morvik/rc2.h usr/include/morvik/morvik.h usr/include/morvik/version.h
               usr/include/morvik/export.h usr/include/morvik/error.h
               usr/lib/cmake/Morvik/MorvikConfig.cmake usr/lib/cmake/Morvik/MorvikConfigVersion.cmake
               usr/lib/cmake/Morvik/MorvikTargets.cmake usr/lib/pkgconfig/morvik.pc usr/bin/morvik
               usr/share/doc/morvik/LICENSE)
  if(MAN)
    list(APPEND expected usr/share/man/man1/morvik.1)
    list(APPEND expected usr/share/bash-completion/completions/morvik usr/share/zsh/vendor-completions/_morvik
                         usr/share/fish/vendor_completions.d/morvik.fish usr/share/doc/morvik/guides/migrating.md)
  endif()
  foreach(f ${expected})
    if(NOT listing MATCHES " \\./${f}( ->|\n)")
      string(APPEND faults "missing ${f}\n")
    endif()
  endforeach()
  if(listing MATCHES "detail/|-packages/|\\.cpython")
    string(APPEND faults "holds what it should not:\n${listing}\n")
  endif()
  run(dpkg-deb --field ${package} Package Version Depends)
  message(STATUS "${package}:\n${output}")
  run(dpkg-deb -x ${package} ${WORK}/root)
  run(${WORK}/root/usr/bin/morvik encrypt --key "my key" --text "Attack at dawn")
  if(NOT output MATCHES "^5F0Kja-6zZcGd7N-WbpG00061")
    string(APPEND faults "the packaged tool encrypts to ${output}\n")
  endif()
  if(CONSUMERS)
    run(${CMAKE_COMMAND} -DMODE=pkg-config -DPREFIX=${WORK}/root/usr -DLIBDIR=lib -DSOURCE=${CONSUMERS}/consumer
        -DWORK=${WORK}/consumer -DC_COMPILER=${C_COMPILER} -DCXX_COMPILER=${CXX_COMPILER} "-DFLAGS=${FLAGS}"
        -P ${CONSUMERS}/consumers.cmake)
  endif()
else()
  run(unzip -l ${package})
  set(listing "${output}")
  foreach(f Morvik.dll register.cmd unregister.cmd README.md LICENSE)
    if(NOT listing MATCHES "/${f}\n")
      string(APPEND faults "missing ${f}\n")
    endif()
  endforeach()
  if(EXE AND NOT listing MATCHES "windows-[x0-9]+/morvik.exe\n")
    string(APPEND faults "missing morvik.exe beside Morvik.dll\n")
  endif()
  # One file each, at the top: the tool is found beside the server.
  if(listing MATCHES "/bin/" OR listing MATCHES "\\.debug\n")
    string(APPEND faults "files that do not belong in the zip (bin/, debug information)\n")
  endif()
endif()

if(faults)
  message(FATAL_ERROR "${package}:\n${faults}\n${listing}")
endif()
message(STATUS "${package}: every file there\n${listing}")
