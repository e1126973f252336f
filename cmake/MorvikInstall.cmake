# Install rules of the tool and its man page, the checks of the installed
# tree, and the packages. The library's own rules are in MorvikLibrary.cmake.
if(TARGET morvik)
  install(TARGETS morvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(TARGET morvik_man)
  install(FILES ${PROJECT_BINARY_DIR}/cli/morvik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT library)
endif()

if(MORVIK_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/MorvikCPack.cmake)
