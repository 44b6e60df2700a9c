// Holds a file open with no sharing, as another program locking a map would,
// until a second file appears: hold_file PATH RELEASE_PATH. Prints "held" once
// the file is open; its handle closes as it exits.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3 || CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE)
    return 1;
  std::puts("held");
  std::fflush(stdout);
  // Bounded, so a test that dies never leaves it behind for long.
  for (int i = 0; i < 1200 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  return 0;
}
