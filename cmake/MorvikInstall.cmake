# Install rules of the tool and its man page, the checks of the installed
# tree, and the packages. The library's own rules are in MorvikLibrary.cmake.
# (The Windows zip has morvik.exe beside Morvik.dll; see MorvikCPack.cmake.)
if(TARGET morvik AND NOT WIN32)
  install(TARGETS morvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(TARGET morvik_man)
  # As it is in a plain install; the Debian package has it compressed, as
  # Debian's own pages are.
  install(FILES ${PROJECT_BINARY_DIR}/cli/morvik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
  if(NOT WIN32)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/cli/morvik.1.gz
      COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/cli/morvik.1
      DEPENDS ${PROJECT_BINARY_DIR}/cli/morvik.1 morvik_man
      COMMENT "gzip morvik.1 for the Debian package" VERBATIM)
    add_custom_target(morvik_man_gz ALL DEPENDS ${PROJECT_BINARY_DIR}/cli/morvik.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/cli/morvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT tool EXCLUDE_FROM_ALL)
  endif()
endif()
# (The Debian packages carry each their own copyright and changelog instead.)
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)
  # The guides, beside the tool that most of them are about.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/guides COMPONENT tool
          FILES_MATCHING PATTERN "*.md")
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

if(MORVIK_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/MorvikCPack.cmake)
if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/MorvikMsi.cmake)
endif()

# The packages of this build, made and checked (dpkg-deb --contents, lintian, unzip -l).
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
    if(TARGET morvik_msi)
      # The MSI: its tables (msitools, no Windows needed), then under Wine a
      # silent installation per user and per machine, an upgrade and the
      # removals, in a prefix of this architecture.
      add_test(NAME package.msi.tables
               COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/package/msi_tables.sh ${MORVIK_MSI} ${MORVIK_ARCH} ${PROJECT_VERSION})
      add_test(NAME package.msi.install
               COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/package/msi_install.sh ${MORVIK_ARCH} ${MORVIK_MSI}
                       ${PROJECT_VERSION} ${PROJECT_BINARY_DIR}/msi-install $<TARGET_FILE:frame_probe>)
      set_tests_properties(package.msi.install PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS wine)
      # Both MSIs side by side in a 64-bit prefix, with the mingw-x86 build's.
      if(MORVIK_ARCH STREQUAL x64)
        set(MORVIK_X86_MSI ${PROJECT_SOURCE_DIR}/build/mingw-x86/packages/Morvik-${PROJECT_VERSION}-windows-x86.msi
            CACHE FILEPATH "The mingw-x86 build's MSI, for the side-by-side test")
        add_test(NAME package.msi.side_by_side
                 COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/package/msi_sidebyside.sh ${PROJECT_BINARY_DIR}/msi-sidebyside
                         ${MORVIK_X86_MSI} ${MORVIK_MSI})
        set_tests_properties(package.msi.side_by_side PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS wine)
      endif()
    endif()
  elseif(NOT CMAKE_CROSSCOMPILING)
    set(flags "")
    if(MORVIK_SANITIZE)
      set(flags "-fsanitize=address,undefined")
    endif()
    set(python "")
    if(TARGET morvik_python)
      set(python -DPY=1 -DPYTHON=${MORVIK_PYTHON})
      if(MORVIK_SANITIZE)
        # The interpreter is not instrumented: the runtime is loaded first.
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so OUTPUT_VARIABLE asan OUTPUT_STRIP_TRAILING_WHITESPACE)
        list(APPEND python -DPRELOAD=${asan})
      endif()
    endif()
    # lintian's verdict on what is released; the sanitizers' build is not.
    find_program(MORVIK_LINTIAN lintian)
    set(lintian 0)
    if(MORVIK_LINTIAN AND NOT MORVIK_SANITIZE)
      set(lintian 1)
    endif()
    add_test(NAME package.deb
             COMMAND ${CMAKE_COMMAND} -DKIND=DEB -DBUILD=${PROJECT_BINARY_DIR} -DWORK=${PROJECT_BINARY_DIR}/package-check
                     -DVERSION=${PROJECT_VERSION} -DMAN=$<TARGET_EXISTS:morvik_man>
                     -DC_COMPILER=${CMAKE_C_COMPILER} -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                     "-DFLAGS=${flags}" ${python} -DLINTIAN=${lintian}
                     -DCONSUMERS=${PROJECT_SOURCE_DIR}/tests/install
                     -P ${PROJECT_SOURCE_DIR}/cmake/package/check_package.cmake)
    set_tests_properties(package.deb PROPERTIES TIMEOUT 300 LABELS install)
  endif()
endif()
