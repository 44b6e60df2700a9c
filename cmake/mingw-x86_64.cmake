# 64-bit Windows: the same sources, kept for one job only. Where 32-bit Wine
# runs under qemu (no 32-bit support in the kernel), the emulator shares one
# GDT between threads and Wine's desktop process (explorer.exe) dies on it at
# random, so the dialogs cannot be driven reliably there (docs/wine.md);
# the end-to-end suite then drives this build's dialogs under wine64 instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BLOCKMQO_MINGW x86_64-w64-mingw32)
set(BLOCKMQO_WINE_RUN wine-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
