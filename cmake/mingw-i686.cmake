# The shipped program: 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BLOCKMQO_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
