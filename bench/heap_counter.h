// Heap use of the whole process, counted by replacing malloc and friends
// (glibc only; elsewhere HeapCounting() is false and the figures are 0).
#pragma once

#include <cstddef>

bool HeapCounting();
// Starts a new peak at the bytes in use now.
void HeapResetPeak();
std::size_t HeapInUse();
std::size_t HeapPeak();
