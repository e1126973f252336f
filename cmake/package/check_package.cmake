# Builds release packages with CPack and checks what they hold.
#   cmake -DKIND=DEB|ZIP -DBUILD=<build dir> -DWORK=<scratch dir> -DVERSION=1.2.0 [-DMAN=1]
#         [-DC_COMPILER=... -DCXX_COMPILER=... -DCONSUMERS=<dir of consumers.cmake and consumer/>]
#         [-DPY=1 -DPYTHON=<python3> -DPRELOAD=<libasan.so>] [-DLINTIAN=1] -P check_package.cmake
# DEB: libmorvik1, libmorvik-dev, morvik and python3-morvik (with PY), each
# with exactly its own files (dpkg-deb --contents), its copyright and
# changelog, and the right relations (dpkg-deb --field, shlibs, the ldconfig
# trigger); lintian finds no error (with LINTIAN). All are then unpacked into
# one scratch root, where the tool runs, the consumers build through the
# packaged pkg-config file, and python3 imports the packaged module.
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
set(faults "")
if(KIND STREQUAL "DEB")
  # Each package: the files it must hold, and a pattern every file of it
  # matches (so that nothing lands in the wrong package, twice, or at all
  # when internal).
  string(REGEX MATCH "^[0-9]+" major ${VERSION})
  set(docs usr/share/doc/@/copyright usr/share/doc/@/changelog.gz)
  set(libmorvik1_files usr/lib/libmorvik.so.${VERSION} usr/lib/libmorvik.so.${major})
  set(libmorvik1_allowed "usr/lib/libmorvik\\.so\\.[0-9.]+")
  set(libmorvik-dev_files usr/lib/libmorvik.so usr/lib/libmorvik.a usr/include/morvik/rc2.h
      usr/include/morvik/morvik.h usr/include/morvik/version.h usr/include/morvik/export.h
      usr/include/morvik/error.h usr/include/morvik/hex.h usr/include/morvik/blind_ascii.h
      usr/include/morvik/cp1252.h usr/lib/cmake/Morvik/MorvikConfig.cmake
      usr/lib/cmake/Morvik/MorvikConfigVersion.cmake usr/lib/cmake/Morvik/MorvikTargets.cmake
      usr/lib/pkgconfig/morvik.pc usr/share/doc/@/README.md)
  set(libmorvik-dev_allowed "usr/lib/libmorvik\\.(so|a)|usr/include/morvik/[a-z0-9_]+\\.h|usr/lib/cmake/Morvik/Morvik[A-Za-z-]+\\.cmake|usr/lib/pkgconfig/morvik\\.pc|usr/share/doc/@/README\\.md")
  set(morvik_files usr/bin/morvik usr/share/doc/@/README.md)
  if(MAN)
    list(APPEND morvik_files usr/share/man/man1/morvik.1.gz)
  endif()
  list(APPEND morvik_files usr/share/bash-completion/completions/morvik usr/share/zsh/vendor-completions/_morvik
                           usr/share/fish/vendor_completions.d/morvik.fish usr/share/doc/@/guides/migrating.md)
  set(morvik_allowed "usr/bin/morvik|usr/share/man/man1/morvik\\.1\\.gz|usr/share/doc/@/README\\.md|usr/share/doc/@/guides/[a-z]+\\.md|usr/share/bash-completion/completions/morvik|usr/share/zsh/vendor-completions/_morvik|usr/share/fish/vendor_completions\\.d/morvik\\.fish")
  set(python3-morvik_files usr/lib/python3/dist-packages/morvik/__init__.pyi usr/lib/python3/dist-packages/morvik/py.typed)
  set(python3-morvik_allowed "usr/lib/python3/dist-packages/morvik/(__init__\\.cpython-[a-z0-9_-]+\\.so|__init__\\.pyi|py\\.typed)")
  set(names libmorvik1 libmorvik-dev morvik)
  if(PY)
    list(APPEND names python3-morvik)
  endif()

  file(GLOB packages ${WORK}/*.deb)
  list(LENGTH packages count)
  list(LENGTH names wanted)
  if(NOT count EQUAL wanted)
    message(FATAL_ERROR "cpack made ${count} packages, not ${wanted} (${names}): ${packages}")
  endif()
  set(listing "")
  foreach(name ${names})
    set(package ${WORK}/${name}_${VERSION}_amd64.deb)
    if(NOT EXISTS ${package})
      file(GLOB package ${WORK}/${name}_${VERSION}_*.deb)
    endif()
    if(NOT package)
      string(APPEND faults "no package ${name}\n")
      continue()
    endif()
    run(dpkg-deb --field ${package} Package Version Depends)
    set(fields "${output}")
    string(APPEND listing "${fields}")
    if(NOT fields MATCHES "Package: ${name}\nVersion: ${VERSION}\n")
      string(APPEND faults "${name}: wrong control fields:\n${fields}")
    endif()
    run(dpkg-deb --contents ${package})
    string(REGEX MATCHALL "\\./[^\n]*[^/\n]\n" entries "${output}")
    string(APPEND listing "${output}\n")
    set(expected ${${name}_files} ${docs})
    list(TRANSFORM expected REPLACE "@" ${name})
    string(REPLACE ";" "|" allowed "${${name}_allowed};${docs}")
    string(REPLACE "@" ${name} allowed "${allowed}")
    foreach(f ${expected})
      if(NOT output MATCHES " \\./${f}( ->|\n)")
        string(APPEND faults "${name}: missing ${f}\n")
      endif()
    endforeach()
    foreach(entry ${entries})
      string(REGEX REPLACE "^\\./| -> .*|\n$" "" f "${entry}")
      if(NOT f MATCHES "^(${allowed})$")
        string(APPEND faults "${name}: holds ${f}, which is not its own\n")
      endif()
    endforeach()
    # The relations between the packages and with the system.
    if(name STREQUAL "libmorvik1")
      run(dpkg-deb --info ${package} shlibs)
      if(NOT output MATCHES "^libmorvik ${major} libmorvik1 \\(= ${VERSION}\\)")
        string(APPEND faults "libmorvik1: shlibs is ${output}\n")
      endif()
      run(dpkg-deb --info ${package} triggers)
      if(NOT output MATCHES "activate-noawait ldconfig")
        string(APPEND faults "libmorvik1: no ldconfig trigger\n")
      endif()
      if(fields MATCHES "Depends:[^\n]*(morvik|python)")
        string(APPEND faults "libmorvik1 depends on a package of its own project:\n${fields}")
      endif()
    elseif(name STREQUAL "libmorvik-dev" AND NOT fields MATCHES "Depends:[^\n]*libmorvik1 \\(= ${VERSION}\\)")
      string(APPEND faults "libmorvik-dev does not depend on this very libmorvik1:\n${fields}")
    elseif(name STREQUAL "python3-morvik" AND NOT fields MATCHES "Depends:[^\n]*python3 \\(>= [0-9.]+\\), python3 \\(<< [0-9.]+\\)")
      string(APPEND faults "python3-morvik does not depend on the one python3 it is built for:\n${fields}")
    endif()
    run(dpkg-deb -x ${package} ${WORK}/root)
  endforeach()
  if(faults)
    message(FATAL_ERROR "${faults}\n${listing}")
  endif()

  # Debian's own checks; warnings are shown, errors fail.
  if(LINTIAN)
    execute_process(COMMAND lintian ${packages}
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message(STATUS "lintian:\n${out}${err}")
    if(out MATCHES "(^|\n)E: ")
      string(APPEND faults "lintian reports errors\n")
    endif()
  endif()

  # All of them unpacked into one scratch root: the tool runs, programs
  # build against the headers and pkg-config file, and Debian's python3
  # imports the module from its place.
  run(${WORK}/root/usr/bin/morvik encrypt --key "my key" --text "Attack at dawn")
  if(NOT output MATCHES "^5F0Kja-6zZcGd7N-WbpG00061")
    string(APPEND faults "the packaged tool encrypts to ${output}\n")
  endif()
  if(CONSUMERS)
    run(${CMAKE_COMMAND} -DMODE=pkg-config -DPREFIX=${WORK}/root/usr -DLIBDIR=lib -DSOURCE=${CONSUMERS}/consumer
        -DWORK=${WORK}/consumer -DC_COMPILER=${C_COMPILER} -DCXX_COMPILER=${CXX_COMPILER} "-DFLAGS=${FLAGS}"
        -P ${CONSUMERS}/consumers.cmake)
  endif()
  if(PY)
    set(env PYTHONPATH=${WORK}/root/usr/lib/python3/dist-packages PYTHONNOUSERSITE=1)
    if(PRELOAD)
      list(APPEND env LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0)
    endif()
    run(${CMAKE_COMMAND} -E env ${env}
        ${PYTHON} -c "import morvik\nprint(morvik.__version__, morvik.__file__, morvik.BLOCK_SIZE)")
    if(NOT output MATCHES "^${VERSION} ${WORK}/root/usr/lib/python3/dist-packages/morvik/__init__")
      string(APPEND faults "the packaged module: ${output}\n")
    endif()
  endif()
else()
  file(GLOB package ${WORK}/*.zip)
  list(LENGTH package count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "cpack made ${count} packages: ${package}")
  endif()
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
message(STATUS "every file there\n${listing}")
