// Inputs shaped like real maps, made the same way on every platform, so the
// native and the Windows figures come from the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "blockdata/blockdata.h"
#include "tests/support/bd1.h"

// Boxes with corners on a 1/8 grid within +-2000 and texture coordinates on a
// 1/64 grid within [0, 1], each face with its own texture number.
std::vector<BlockRecord> RealisticBlocks(int count);
TextureNames RealisticNames();

// Float bit patterns for the formatter on its own.
std::vector<std::uint32_t> CoordinateBits(std::size_t n);  // k/8, |k/8| <= 2000
std::vector<std::uint32_t> TexCoordBits(std::size_t n);    // k/64, 0 <= k <= 64
std::vector<std::uint32_t> RandomFiniteBits(std::size_t n);
