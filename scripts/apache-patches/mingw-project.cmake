# Read by CMake after each project() of the Apache build (CMAKE_PROJECT_INCLUDE):
# the Windows names those projects expect (libapr-1.dll, mod_dir.so), not
# MinGW's "lib" prefix.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
