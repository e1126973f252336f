# Install rules of the tool and its man page, the checks of the installed
# tree, and the packages. The library's own rules are in MorvikLibrary.cmake.
# (The Windows zip has morvik.exe beside Morvik.dll; see MorvikCPack.cmake.)
if(TARGET morvik AND NOT WIN32)
  install(TARGETS morvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(TARGET morvik_man)
  install(FILES ${PROJECT_BINARY_DIR}/cli/morvik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()
# Shell completions, where each shell looks for the completions of packages.
if(TARGET morvik AND NOT WIN32)
  set(completions ${PROJECT_SOURCE_DIR}/cli/completions)
  install(FILES ${completions}/morvik.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME morvik COMPONENT tool)
  install(FILES ${completions}/_morvik DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT tool)
  install(FILES ${completions}/morvik.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d
          COMPONENT tool)
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT library)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/guides COMPONENT library
          FILES_MATCHING PATTERN "*.md")
endif()

if(MORVIK_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/MorvikCPack.cmake)

# The package of this build, made and checked (dpkg-deb --contents, unzip -l).
if(MORVIK_BUILD_TESTS)
  enable_testing()
  if(WIN32)
    add_test(NAME package.zip
             COMMAND ${CMAKE_COMMAND} -DKIND=ZIP -DBUILD=${PROJECT_BINARY_DIR} -DWORK=${PROJECT_BINARY_DIR}/package-check
                     -DVERSION=${PROJECT_VERSION} -DEXE=$<TARGET_EXISTS:morvik>
                     -P ${PROJECT_SOURCE_DIR}/cmake/package/check_package.cmake)
    set_tests_properties(package.zip PROPERTIES FIXTURES_SETUP morvik_zip)
    # The zip's scripts under Wine: the server registers and unregisters.
    add_test(NAME package.zip.register
             COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/package/zip_register.sh ${MORVIK_ARCH}
                     ${PROJECT_BINARY_DIR}/package-check/Morvik-${PROJECT_VERSION}-windows-${MORVIK_ARCH}.zip
                     ${PROJECT_BINARY_DIR}/package-register)
    set_tests_properties(package.zip.register PROPERTIES FIXTURES_REQUIRED morvik_zip SKIP_RETURN_CODE 77 TIMEOUT 300)
  elseif(NOT CMAKE_CROSSCOMPILING)
    set(flags "")
    if(MORVIK_SANITIZE)
      set(flags "-fsanitize=address,undefined")
    endif()
    add_test(NAME package.deb
             COMMAND ${CMAKE_COMMAND} -DKIND=DEB -DBUILD=${PROJECT_BINARY_DIR} -DWORK=${PROJECT_BINARY_DIR}/package-check
                     -DVERSION=${PROJECT_VERSION} -DMAN=$<TARGET_EXISTS:morvik_man>
                     -DC_COMPILER=${CMAKE_C_COMPILER} -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                     "-DFLAGS=${flags}"
                     -DCONSUMERS=${PROJECT_SOURCE_DIR}/tests/install
                     -P ${PROJECT_SOURCE_DIR}/cmake/package/check_package.cmake)
    set_tests_properties(package.deb PROPERTIES TIMEOUT 300 LABELS install)
  endif()
endif()
