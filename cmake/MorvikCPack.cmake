# Release packages. Linux (cpack -G DEB): the packages Debian would split the
# project into, one per install component: libmorvik1 (the shared library),
# libmorvik-dev (headers, static library, CMake and pkg-config files), morvik
# (the tool and its man page) and python3-morvik (the module for Debian's
# python3). Windows, per architecture: a zip with Morvik.dll, morvik.exe
# where the tool is built, scripts that register and unregister the server,
# README and LICENSE (cpack -G ZIP in build/mingw-x86 or build/mingw-x64); the
# MSIs are in MorvikMsi.cmake.
set(CPACK_PACKAGE_NAME morvik)
set(CPACK_PACKAGE_VENDOR "The Morvik RC2 authors")
# (lintian refuses a maintainer address on localhost)
set(CPACK_PACKAGE_CONTACT "The Morvik RC2 authors <morvik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "RC2 block cipher (RFC 2268) with hex and base-66 text forms")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  install(TARGETS morvik_frame RUNTIME DESTINATION . COMPONENT server)
  if(TARGET morvik)
    install(TARGETS morvik RUNTIME DESTINATION . COMPONENT server)
  endif()
  foreach(script register unregister)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/package/${script}.cmd.in
                   ${PROJECT_BINARY_DIR}/${script}.cmd @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/${script}.cmd DESTINATION . COMPONENT server)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION . COMPONENT server)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Morvik-${PROJECT_VERSION}-windows-${MORVIK_ARCH})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian ships no debug information in the packages themselves.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(deb_version ${PROJECT_VERSION})
  set(CPACK_COMPONENTS_ALL library development tool)
  if(TARGET morvik_python)
    list(APPEND CPACK_COMPONENTS_ALL python)
  endif()
  # component, package, section, extended description (its lines; CPack puts
  # the summary above it)
  set(deb_library libmorvik1 libs
      "The shared library libmorvik.so.1: the RC2 object, its streams,\nthe hex and armoured text forms and the C interface.")
  set(deb_development libmorvik-dev libdevel
      "Headers, the static library, the CMake package Morvik and the pkg-config\nfile morvik, to build programs in C and C++ against libmorvik.")
  set(deb_tool morvik utils
      "The command-line tool morvik: encrypts and decrypts texts, files and\nrecords to and from hex or armoured text.")
  set(deb_python python3-morvik python
      "The module morvik for Debian's python3, with its type stubs.")
  foreach(component ${CPACK_COMPONENTS_ALL})
    string(TOUPPER ${component} C)
    list(GET deb_${component} 0 package)
    list(GET deb_${component} 1 section)
    list(GET deb_${component} 2 text)
    set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${C}_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${section})
    set(CPACK_COMPONENT_${C}_DESCRIPTION "${text}")
    # Each package's own copyright and changelog, as Debian policy has them.
    set(doc ${PROJECT_BINARY_DIR}/debian-doc/${package})
    file(MAKE_DIRECTORY ${doc})
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${doc}/copyright COPYONLY)
    # gzip -9n: the same bytes for every build, as lintian asks.
    execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md OUTPUT_FILE ${doc}/changelog.gz)
    set(docs ${doc}/copyright ${doc}/changelog.gz)
    if(component MATCHES "development|tool")
      list(APPEND docs ${PROJECT_SOURCE_DIR}/README.md)
    endif()
    install(FILES ${docs} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
  # shlibs and the ldconfig trigger for libmorvik.so.1; the -dev package
  # needs the very same build of it.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  file(WRITE ${PROJECT_BINARY_DIR}/debian-doc/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-doc/triggers)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libmorvik1 (= ${deb_version})")
  # The module is built for Debian's python3 (3.11 in Debian 12) alone.
  if(TARGET morvik_python)
    get_target_property(py morvik_python MORVIK_PYTHON_VERSION)
    string(REGEX MATCH "^[0-9]+" py_major ${py})
    string(REGEX MATCH "[0-9]+$" py_minor ${py})
    math(EXPR py_next "${py_minor} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${py}), python3 (<< ${py_major}.${py_next})")
  endif()
endif()
include(CPack)
