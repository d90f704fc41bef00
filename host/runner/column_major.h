#pragma once

// Between image rows (as TIFF files store them) and the host's column-major arrays, a band
// of rows at a time. Element (i, j) of an array with `height` rows lies at
// array + (i + j * height) * size; row r of a band lies at band + r * rowBytes and holds
// image row firstRow + r.
//
// The fast conversions transpose in small square tiles held in vector registers and walk
// each array column's stretch of the band from start to end, so the array is read and
// written in whole cache lines; the band is meant to stay in cache. The plain ones copy
// element by element and are what the fast ones are tested against.

#include <cstddef>

namespace hvhost {

struct BandLayout {
    std::size_t size;      // bytes per element; 1, 2, 4 and 8 are fast, others are copied plainly
    std::size_t columns;   // image width, the array's column count
    std::size_t height;    // image height, the array's row count
    std::size_t firstRow;  // the band's first image row
    std::size_t rows;      // rows in the band
    std::size_t rowBytes;  // distance between the band's rows, at least columns * size
};

// Rows per band that give each array column a stretch of a few cache lines.
std::size_t bandRowsFor(std::size_t size);

void bandToColumns(const unsigned char* band, const BandLayout& layout, unsigned char* array);
void columnsToBand(const unsigned char* array, const BandLayout& layout, unsigned char* band);

void bandToColumnsPlain(const unsigned char* band, const BandLayout& layout, unsigned char* array);
void columnsToBandPlain(const unsigned char* array, const BandLayout& layout, unsigned char* band);

}  // namespace hvhost
