# The shipped program: 32-bit Windows. Its tests run under 32-bit Wine
# (scripts/wine32-run), through qemu where the kernel runs no 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BLOCKMQO_MINGW i686-w64-mingw32)
set(BLOCKMQO_WINE_RUN wine32-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
