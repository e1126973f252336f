# The installable libraries: libmorvik.so.1 (only the public API visible) and
# libmorvik.a, both of every layer's objects and the C interface, with the
# public headers of each layer's include/morvik/ (never morvik/detail/).
set(MORVIK_LAYERS base armour text cipher capi)
set(morvik_objects)
set(MORVIK_PUBLIC_INCLUDE_DIRS ${PROJECT_BINARY_DIR}/base/include)
foreach(layer ${MORVIK_LAYERS})
  list(APPEND morvik_objects $<TARGET_OBJECTS:morvik_${layer}>)
  list(APPEND MORVIK_PUBLIC_INCLUDE_DIRS ${PROJECT_SOURCE_DIR}/${layer}/include)
endforeach()
# The C interface's explanations and strict key rules are the front layer's;
# its headers stay private.
list(APPEND morvik_objects $<TARGET_OBJECTS:morvik_front>)

foreach(kind shared static)
  string(TOUPPER ${kind} KIND)
  add_library(morvik_${kind} ${KIND} ${morvik_objects})
  foreach(dir ${MORVIK_PUBLIC_INCLUDE_DIRS})
    target_include_directories(morvik_${kind} PUBLIC $<BUILD_INTERFACE:${dir}>)
  endforeach()
  target_include_directories(morvik_${kind} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(morvik_${kind} INTERFACE cxx_std_20)
  set_target_properties(morvik_${kind} PROPERTIES OUTPUT_NAME morvik LINKER_LANGUAGE CXX)
endforeach()
set_target_properties(morvik_shared PROPERTIES
  EXPORT_NAME morvik
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(morvik_static PROPERTIES EXPORT_NAME morvik_static POSITION_INDEPENDENT_CODE ON)
target_link_options(morvik_shared PRIVATE -Wl,--no-undefined)
# What a project that adds this one as a subdirectory links, under the names
# that find_package gives.
add_library(Morvik::morvik ALIAS morvik_shared)
add_library(Morvik::morvik_static ALIAS morvik_static)

if(NOT MORVIK_INSTALL)
  return()
endif()

install(TARGETS morvik_shared morvik_static EXPORT MorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(dir ${MORVIK_PUBLIC_INCLUDE_DIRS})
  install(DIRECTORY ${dir}/morvik DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
          FILES_MATCHING PATTERN "*.h" PATTERN "detail" EXCLUDE)
endforeach()

include(CMakePackageConfigHelpers)
set(MORVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Morvik)
install(EXPORT MorvikTargets NAMESPACE Morvik:: DESTINATION ${MORVIK_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/MorvikConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MorvikConfig.cmake INSTALL_DESTINATION ${MORVIK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MorvikConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MorvikConfig.cmake ${PROJECT_BINARY_DIR}/MorvikConfigVersion.cmake
        DESTINATION ${MORVIK_CMAKE_DIR} COMPONENT development)

# pkg-config: the prefix is found from the file's own place, so the file is
# right wherever the tree is installed (cmake --install --prefix, a .deb).
file(RELATIVE_PATH MORVIK_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" MORVIK_PC_TO_PREFIX "${MORVIK_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/morvik.pc.in ${PROJECT_BINARY_DIR}/morvik.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
