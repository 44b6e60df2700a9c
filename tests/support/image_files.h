// Image files written from a table of RGBA pixels (rows from the top), for
// the tests of what reads them.
#pragma once

#include <vector>

using ImageBytes = std::vector<unsigned char>;

// bits 8 (a palette of the table's colours, at most 256), 24 or 32 (BGRA);
// rows bottom-up as usual, or top-down.
ImageBytes MakeBmp(int width, int height, const ImageBytes& rgba, int bits, bool topDown);
// bits 24 or 32; with rle, equal neighbours in a row become one repeat packet.
ImageBytes MakeTga(int width, int height, const ImageBytes& rgba, int bits, bool rle, bool topDown);
