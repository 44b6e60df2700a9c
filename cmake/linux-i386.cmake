# 32-bit x86 Linux with x87 floating point, as the 32-bit Windows compiler
# generates it, run through qemu's user-mode emulator on hosts whose kernel
# cannot execute 32-bit programs. It puts the core's tests on the same
# instruction set and number widths as the shipped Windows program.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-m32 -mfpmath=387 -DBLOCKMQO_EMULATED=1")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static)
