# Release packages. Linux: one .deb with the libraries, headers, CMake and
# pkg-config files, the tool and its man page (cpack -G DEB). Windows, per
# architecture: a zip with Morvik.dll, morvik.exe where the tool is built,
# scripts that register and unregister the server, README and LICENSE
# (cpack -G ZIP in build/mingw-x86 or build/mingw-x64).
set(CPACK_PACKAGE_NAME morvik)
set(CPACK_PACKAGE_VENDOR "The Morvik RC2 authors")
set(CPACK_PACKAGE_CONTACT "The Morvik RC2 authors <morvik@localhost>")
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
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # shlibs and the ldconfig trigger for libmorvik.so.1
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
