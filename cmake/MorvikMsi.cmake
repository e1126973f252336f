# The Windows installer of this architecture, Morvik-<version>-windows-<arch>.msi
# in the build tree (target morvik_msi, part of the default build where wixl
# is installed): built by wixl from cmake/package/morvik.wxs, then given by
# msibuild what wixl 0.101 cannot write (see the .wxs). CTest checks its
# tables (msi_tables.sh) and installs it under Wine (msi_install.sh).
find_program(MORVIK_WIXL wixl)
find_program(MORVIK_MSIBUILD msibuild)
if(NOT MORVIK_WIXL OR NOT MORVIK_MSIBUILD OR NOT TARGET morvik)
  message(STATUS "No MSI: it needs wixl and msibuild (packages wixl, msitools) and the tool")
  return()
endif()

set(MORVIK_MSI ${PROJECT_BINARY_DIR}/packages/Morvik-${PROJECT_VERSION}-windows-${MORVIK_ARCH}.msi)
set(msi_dir ${PROJECT_BINARY_DIR}/msi)
file(MAKE_DIRECTORY ${msi_dir})
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${msi_dir}/LICENSE.txt COPYONLY)
# The Environment table: morvik.exe's folder appended to PATH (=: set, -:
# taken away again on uninstall, *: the system's), by the component of the
# installation's context.
file(WRITE ${msi_dir}/Environment.idt
  "Environment\tName\tValue\tComponent_\n"
  "s72\tl255\tL255\ts72\n"
  "Environment\tEnvironment\n"
  "PathMachine\t=-*PATH\t[~];[INSTALLDIR]\tPathMachine\n"
  "PathUser\t=-PATH\t[~];[INSTALLDIR]\tPathUser\n")
set(per_user "ALLUSERS=2 AND MSIINSTALLPERUSER=1")
set(queries
  # wixl writes HKMU as root 4; Windows Installer's HKMU is -1.
  "UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4"
  "UPDATE `Component` SET `Condition` = 'ALLUSERS AND NOT (${per_user})' WHERE `Component` = 'PathMachine'"
  "UPDATE `Component` SET `Condition` = 'NOT ALLUSERS OR (${per_user})' WHERE `Component` = 'PathUser'"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
set(msibuild_queries)
foreach(q ${queries})
  list(APPEND msibuild_queries -q "${q}")
endforeach()
# wixl takes only paths relative to its working directory.
file(RELATIVE_PATH frame_dir ${msi_dir} ${PROJECT_BINARY_DIR}/frame)
file(RELATIVE_PATH cli_dir ${msi_dir} ${PROJECT_BINARY_DIR}/cli)
add_custom_command(OUTPUT ${MORVIK_MSI}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packages
  COMMAND ${MORVIK_WIXL} -a ${MORVIK_ARCH} -D Version=${PROJECT_VERSION} -D Arch=${MORVIK_ARCH}
          -D Dll=${frame_dir}/$<TARGET_FILE_NAME:morvik_frame> -D Exe=${cli_dir}/$<TARGET_FILE_NAME:morvik> -D Licence=LICENSE.txt
          -o ${MORVIK_MSI}.tmp ${PROJECT_SOURCE_DIR}/cmake/package/morvik.wxs
  COMMAND ${MORVIK_MSIBUILD} ${MORVIK_MSI}.tmp -i Environment.idt ${msibuild_queries}
  COMMAND ${CMAKE_COMMAND} -E rename ${MORVIK_MSI}.tmp ${MORVIK_MSI}
  DEPENDS morvik_frame morvik ${PROJECT_SOURCE_DIR}/cmake/package/morvik.wxs
          ${msi_dir}/Environment.idt
  WORKING_DIRECTORY ${msi_dir}
  COMMENT "wixl: ${MORVIK_MSI}"
  VERBATIM)
add_custom_target(morvik_msi ALL DEPENDS ${MORVIK_MSI})
