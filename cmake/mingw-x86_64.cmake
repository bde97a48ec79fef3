# 64-bit Windows: the same sources, built to run the tests under wine64 on
# hosts whose kernel cannot execute 32-bit x86 code (see README).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
