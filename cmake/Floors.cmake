# The floors of the code: a folder includes only from itself and from the
# folders its row names below it, and never reaches a header its row
# forbids, not even through another header. Run by ctest (tests/floors):
#   cmake -DROOT=<source folder> -P cmake/Floors.cmake
# fails naming every include that goes up a floor, across to the other
# program, or to a forbidden header. The drivers take the kit's folder from
# whoever builds them: they never ask the install directory themselves.
cmake_minimum_required(VERSION 3.20)

# folder | the folders below it | headers it may not reach
set(floors
  "common||"
  "manager/resources||"
  "manager/settings|common manager/resources|"
  "manager/drivers|common manager/resources manager/settings|InstallDir.h"
  "manager/stack|common manager/resources manager/settings manager/drivers|"
  "manager/app|common manager/resources manager/settings manager/drivers manager/stack|"
  "extedit|common|"
)

# The quoted includes of a file.
function(quoted_includes file out)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(headers "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" header "${line}")
    list(APPEND headers "${header}")
  endforeach()
  set(${out} "${headers}" PARENT_SCOPE)
endfunction()

set(faults "")
foreach(row IN LISTS floors)
  string(REPLACE "|" ";" parts "${row}")
  list(GET parts 0 folder)
  list(GET parts 1 below)
  list(GET parts 2 forbidden)
  separate_arguments(below)
  separate_arguments(forbidden)
  file(GLOB sources "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.c"
                    "${ROOT}/${folder}/*.rc")
  if(NOT sources)
    string(APPEND faults "  ${folder}: no sources there\n")
  endif()
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    # Every header the source reaches, through the headers it includes.
    set(pending "${source}")
    set(seen "")
    while(pending)
      list(POP_FRONT pending file)
      quoted_includes("${file}" headers)
      foreach(header IN LISTS headers)
        set(found "")
        foreach(place IN ITEMS ${folder} ${below})
          if(NOT found AND EXISTS "${ROOT}/${place}/${header}")
            set(found "${ROOT}/${place}/${header}")
          endif()
        endforeach()
        get_filename_component(file_name "${header}" NAME)
        if(NOT found)
          if(file STREQUAL source)
            string(APPEND faults "  ${name}: \"${header}\" is not in ${folder} nor below it\n")
          endif()
        elseif(file_name IN_LIST forbidden)
          string(APPEND faults "  ${name}: reaches \"${header}\", which ${folder} may not\n")
        elseif(NOT found IN_LIST seen)
          list(APPEND seen "${found}")
          list(APPEND pending "${found}")
        endif()
      endforeach()
    endwhile()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "includes going up a floor:\n${faults}")
endif()
message(STATUS "every include stays on its floor or goes down")
