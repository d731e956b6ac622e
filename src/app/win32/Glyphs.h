// The toolbar's and the STOP button's pictures, from the same glyphs as the
// Qt window (src/app/glyphs), built into the program as pixel arrays.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace qv::win {

// An image list of the glyphs of these numbers (the "NN" of NN.png), in that
// order, each drawn at `size` pixels (the glyphs are 16: a larger size
// repeats pixels, for a higher density). Transparent pixels are masked.
HIMAGELIST GlyphImageList(const std::vector<int> &glyphs, int size);

// One glyph (by file name without extension, "stop") as a bitmap over the
// background colour, `scale` times its own size. Null when there is none.
HBITMAP GlyphBitmap(const std::string &name, COLORREF background, int scale);

}  // namespace qv::win
