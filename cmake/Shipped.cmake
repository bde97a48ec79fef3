# tarvane_shipped(target [NO_RTTI]): builds a program the way it ships,
# small and self-contained (a static runtime, nothing to ship beside the
# .exe).
#
# In a Release build the program and every library of this project it
# links (the product code, found through its link libraries) are compiled
# for size, each function and datum in its own section, without exception
# tables; the program is linked with the unused sections dropped and
# without symbols. Product code uses msvcrt's own printf family (the
# MinGW replacement adds about 30 KB for formats the product never uses).
#
# NO_RTTI also drops the type information of the program's classes. Only
# for a program none of whose classes with virtual functions defined out
# of line is derived from by a test: the test's class would need its
# base's type information (the driver tests derive from Server, so the
# manager keeps it; it costs the manager about 2.5 KB).
#
# The product libraries are the ones the test programs link too, so the
# tests run the very objects that ship. Call it after the target's
# target_link_libraries; the flags are applied at the end of the
# configuration, once every library exists.
function(tarvane_shipped target)
  cmake_parse_arguments(S "NO_RTTI" "" "" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY TARVANE_SHIPPED_TARGETS ${target})
  set_property(TARGET ${target} PROPERTY TARVANE_NO_RTTI ${S_NO_RTTI})
  get_property(deferred GLOBAL PROPERTY TARVANE_SHIPPED_DEFERRED)
  if(NOT deferred)
    set_property(GLOBAL PROPERTY TARVANE_SHIPPED_DEFERRED TRUE)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tarvane_shipped_apply)
  endif()
endfunction()

# The libraries of this project that a target links, directly or through
# other libraries: product code only (not the tests, not the stand-in kit,
# not GoogleTest).
function(_tarvane_product_libraries target out)
  set(found)
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    get_target_property(direct ${current} LINK_LIBRARIES)
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS direct interface)
      if(NOT lib OR lib MATCHES "^\\$<" OR NOT TARGET ${lib} OR lib IN_LIST found)
        continue()
      endif()
      get_target_property(imported ${lib} IMPORTED)
      get_target_property(type ${lib} TYPE)
      get_target_property(dir ${lib} SOURCE_DIR)
      file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
      if(imported OR NOT type MATCHES "^(STATIC|OBJECT)_LIBRARY$" OR rel MATCHES "^(\\.\\.|tests|testkit)")
        continue()
      endif()
      list(APPEND found ${lib})
      list(APPEND pending ${lib})
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(_tarvane_shipped_apply)
  get_property(targets GLOBAL PROPERTY TARVANE_SHIPPED_TARGETS)
  set(release "$<OR:$<CONFIG:Release>,$<CONFIG:MinSizeRel>>")
  # 32-bit code unwinds through tables of its own (.eh_frame), which only
  # exceptions would use; 64-bit Windows wants its unwind data on every
  # function, exceptions or not.
  set(no_unwind)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(no_unwind -fno-asynchronous-unwind-tables)
  endif()
  set(applied)
  foreach(target IN LISTS targets)
    _tarvane_product_libraries(${target} libs)
    get_target_property(no_rtti ${target} TARVANE_NO_RTTI)
    foreach(t ${target} ${libs})
      if(no_rtti)
        target_compile_options(${t} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
      endif()
      if(t IN_LIST applied)
        continue()
      endif()
      list(APPEND applied ${t})
      # stdio.h comes first, before any C++ runtime header turns the
      # MinGW replacement on again for the rest of the file.
      target_compile_definitions(${t} PRIVATE __USE_MINGW_ANSI_STDIO=0)
      target_compile_options(${t} PRIVATE
        $<$<COMPILE_LANGUAGE:C,CXX>:-include stdio.h>
        $<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections -fdata-sections>
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions ${no_unwind}>
        $<$<AND:${release},$<COMPILE_LANGUAGE:C,CXX>>:-Os>)
    endforeach()
    target_link_options(${target} PRIVATE -Wl,--gc-sections $<${release}:-s>)
  endforeach()
endfunction()
