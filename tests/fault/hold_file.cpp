// Holds a file open with no sharing, as another program locking a map would,
// until a second file appears: hold_file PATH RELEASE_PATH. Prints "held" once
// the file is open.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("cannot open %s\n", argv[1]);
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  // Bounded, so a test that dies never leaves it behind for long.
  for (int i = 0; i < 1200 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  CloseHandle(file);
  return 0;
}
