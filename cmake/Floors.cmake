# The floors of the code: a folder includes only from itself and from the
# folders its row names below it. Run by ctest (tests/floors):
#   cmake -DROOT=<source folder> -P cmake/Floors.cmake
# fails naming every include that goes up a floor or across to the other
# program. The drivers take the kit's folder from whoever builds them: the
# settings (the install directory) are not below them.
cmake_minimum_required(VERSION 3.20)
set(floors
  "common|"
  "manager/resources|"
  "manager/settings|common manager/resources"
  "manager/drivers|common manager/resources"
  "manager/stack|common manager/resources manager/settings manager/drivers"
  "manager/app|common manager/resources manager/settings manager/drivers manager/stack"
  "extedit|common"
)

set(faults "")
foreach(row IN LISTS floors)
  string(REPLACE "|" ";" parts "${row}")
  list(GET parts 0 folder)
  list(LENGTH parts count)
  set(below "")
  if(count GREATER 1)
    list(GET parts 1 below)
    separate_arguments(below)
  endif()
  file(GLOB sources "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.c"
                    "${ROOT}/${folder}/*.rc")
  if(NOT sources)
    string(APPEND faults "  ${folder}: no sources there\n")
  endif()
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" header "${line}")
      set(found FALSE)
      foreach(place IN ITEMS ${folder} ${below})
        if(EXISTS "${ROOT}/${place}/${header}")
          set(found TRUE)
        endif()
      endforeach()
      if(NOT found)
        file(RELATIVE_PATH name "${ROOT}" "${source}")
        string(APPEND faults "  ${name}: \"${header}\" is not in ${folder} nor below it (${below})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "includes going up a floor:\n${faults}")
endif()
message(STATUS "every include stays on its floor or goes down")
