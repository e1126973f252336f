# Checks every include of the core's layers and of the fronts against the
# layering: base <- armour <- cipher, base <- text, the front layer above
# them all, and the fronts on top, none of which includes another front.
# The build already refuses most upward includes, since a layer only sees the
# headers of the layers it links; this also catches what include paths cannot:
# relative paths into another folder, and system headers outside the files
# that are allowed them.
#
#   cmake -DROOT=<source dir> [-DPLANTED=<file> -DPLANTED_IN=<folder>] -P layers.cmake
cmake_minimum_required(VERSION 3.25)

set(core base armour text cipher)
set(layers ${core} front)
set(below_base)
set(below_armour base)
set(below_text base)
set(below_cipher armour base)
set(below_front cipher armour text base)
set(fronts cli frame capi python sql)
# Platform headers, by the only files that may include them.
set(platform_base_hints.cpp "sys/mman.h;emmintrin.h")
set(platform_text_ansi_code_page_windows.cpp "windows.h")
set(platform_x86 "immintrin.h;emmintrin.h;cpuid.h")

# Which layer owns each public header.
foreach(layer ${layers})
  file(GLOB_RECURSE headers RELATIVE ${ROOT}/${layer}/include ${ROOT}/${layer}/include/morvik/*.h)
  foreach(h ${headers})
    set(owner_${h} ${layer})
  endforeach()
endforeach()
set(owner_morvik/version.h base)  # generated into the build tree of base/
set(owner_morvik/morvik.h capi)

set(faults "")
macro(fault file line message)
  string(APPEND faults "${file}:${line}: ${message}\n")
endmacro()

function(check_file file layer)
  file(RELATIVE_PATH rel ${ROOT} ${file})
  get_filename_component(dir ${file} DIRECTORY)
  file(STRINGS ${file} lines)
  set(n 0)
  foreach(line IN LISTS lines)
    math(EXPR n "${n} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(kind ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    if(kind STREQUAL "\"")
      # A quoted include names a file of the same folder tree.
      get_filename_component(target ${dir}/${name} ABSOLUTE)
      if(layer STREQUAL "frame" AND name MATCHES "^morvik(_iids)?\\.h$")
        # generated from the .idl into the build tree
      elseif(NOT EXISTS ${target} OR NOT target MATCHES "^${ROOT}/${layer}/")
        fault(${rel} ${n} "\"${name}\" is not a file of ${layer}/")
      endif()
    elseif(name MATCHES "^morvik/")
      set(owner ${owner_${name}})
      if(NOT owner)
        fault(${rel} ${n} "<${name}> is no header of the core")
      elseif(layer IN_LIST layers AND NOT owner STREQUAL layer AND NOT owner IN_LIST below_${layer})
        fault(${rel} ${n} "${layer}/ may not include <${name}> of ${owner}/, a layer above or beside it")
      elseif(layer IN_LIST fronts AND owner IN_LIST fronts AND NOT owner STREQUAL layer)
        fault(${rel} ${n} "${layer}/ may not include <${name}> of ${owner}/: no front includes another")
      endif()
    elseif(NOT layer IN_LIST core AND _front_header_${name})
      # Found through an include path: a header of a front is that front's alone.
      set(other ${_front_header_${name}})
      if(NOT other STREQUAL layer)
        fault(${rel} ${n} "<${name}> is a header of ${other}/: no front or layer includes a front")
      endif()
    elseif(layer IN_LIST core AND NOT name MATCHES "^[a-z_0-9]+$")
      # The core includes the standard library alone, but for its two seams.
      get_filename_component(base_name ${file} NAME)
      set(allowed ${platform_${layer}_${base_name}})
      if(rel MATCHES "^cipher/x86/")
        list(APPEND allowed ${platform_x86})
      endif()
      if(NOT name IN_LIST allowed)
        fault(${rel} ${n} "<${name}> is not a standard header; the core stays portable")
      endif()
    elseif(name MATCHES "^(windows|ole2|oleauto|objbase|winver)\\.h$" AND NOT layer STREQUAL "frame"
           AND NOT rel MATCHES "_windows\\.cpp$")
      fault(${rel} ${n} "<${name}> belongs to frame/ and the tool's Windows file layer")
    endif()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
endfunction()

# Every header of a front, by its name as an include path would find it.
foreach(front ${fronts})
  file(GLOB_RECURSE headers RELATIVE ${ROOT}/${front} ${ROOT}/${front}/*.h)
  foreach(h ${headers})
    if(NOT h MATCHES "^(include/|tests/)")
      set(_front_header_${h} ${front})
      get_filename_component(leaf ${h} NAME)
      set(_front_header_${leaf} ${front})
    endif()
  endforeach()
endforeach()

foreach(layer ${layers} ${fronts})
  file(GLOB_RECURSE sources ${ROOT}/${layer}/*.h ${ROOT}/${layer}/*.cpp ${ROOT}/${layer}/*.inl)
  list(FILTER sources EXCLUDE REGEX "/tests/")
  foreach(file ${sources})
    check_file(${file} ${layer})
  endforeach()
endforeach()

# -DPLANTED=<file> -DPLANTED_IN=<folder>: one more file, checked as if it
# were in that folder; the check of the check plants an upward include.
if(PLANTED)
  check_file(${PLANTED} ${PLANTED_IN})
endif()

if(faults)
  # Unwrapped, one fault a line (an error's text is wrapped at 80 columns).
  message(NOTICE "Includes against the layering:\n${faults}")
  message(FATAL_ERROR "layers: includes run against the layering (listed above)")
endif()
message(STATUS "layers: every include runs downwards")
