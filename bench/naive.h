// Reference points for the conversion's speed, kept only in the benchmark.
#pragma once

#include <string>

// The floor: the least any converter must spend. One read of the whole input
// into a fresh buffer, one write of the finished document bytes to a new file
// beside the target, fsync when `sync` (the conversion syncs before it
// renames, so that a crash never leaves an empty file where the old one was),
// close, rename over the target.
bool WriteFloor(const char* inputPath, const char* outputPath, const std::string& document,
                bool sync);

// The obvious writer: one fprintf per line with %.4f and %.5f. Its rounding
// differs from the document's (ties go to even), so its bytes are not the
// document; it is here for its speed only. Same file handling as the floor.
bool WriteNaive(const char* inputPath, const char* outputPath, bool sync);
