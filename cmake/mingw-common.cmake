# Shared part of the Windows cross builds; the including file sets
# BLOCKMQO_MINGW to the toolchain prefix (i686-w64-mingw32) and
# BLOCKMQO_WINE_RUN to the script in scripts/ that runs its tests under Wine.
# The POSIX threads variant of the compiler is the one GoogleTest needs.
# Executables are linked statically so they need only the DLLs Windows ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BLOCKMQO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BLOCKMQO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${BLOCKMQO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BLOCKMQO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/${BLOCKMQO_WINE_RUN})
endif()
