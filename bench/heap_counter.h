// Heap use of the whole process, counted by replacing glibc's malloc and friends.
#pragma once

#include <cstddef>

// Starts a new peak at the bytes in use now.
void HeapResetPeak();
std::size_t HeapInUse();
std::size_t HeapPeak();
