#include "app/win32/Glyphs.h"

#include <vector>

namespace qv::win {

namespace {

struct Glyph {
    const char *name;
    int width;
    int height;
    unsigned char rgba[32 * 33 * 4];
};

const Glyph kGlyphs[] = {
#include "glyphdata.inc"
};

const Glyph *find(const std::string &name)
{
    for (const Glyph &g : kGlyphs)
        if (name == g.name)
            return &g;
    return nullptr;
}

// A top-down 24-bit bitmap of the glyph blended over `background`, and, when
// asked, its mask (white where the glyph is transparent).
HBITMAP draw(const Glyph &g, COLORREF background, int scale, HBITMAP *mask)
{
    const int w = g.width * scale;
    const int h = g.height * scale;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    const HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour)
        return nullptr;
    // The mask: one bit a pixel, rows padded to 16 bits.
    const int maskStride = ((w + 15) / 16) * 2;
    std::vector<unsigned char> maskBits(static_cast<std::size_t>(maskStride * h), 0);
    auto *out = static_cast<unsigned char *>(bits);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned char *p = g.rgba + 4 * ((y / scale) * g.width + x / scale);
            const int a = p[3];
            const auto blend = [&](int c, int b) { return static_cast<unsigned char>((c * a + b * (255 - a)) / 255); };
            unsigned char *q = out + 4 * (y * w + x);
            q[0] = blend(p[2], GetBValue(background));
            q[1] = blend(p[1], GetGValue(background));
            q[2] = blend(p[0], GetRValue(background));
            q[3] = 0;
            if (a < 128)
                maskBits[static_cast<std::size_t>(y * maskStride + x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
        }
    }
    if (mask)
        *mask = CreateBitmap(w, h, 1, 1, maskBits.data());
    return colour;
}

}  // namespace

HIMAGELIST GlyphImageList(const std::vector<int> &glyphs, int size)
{
    const int scale = size >= 32 ? size / 16 : 1;
    HIMAGELIST list = ImageList_Create(16 * scale, 16 * scale, ILC_COLOR24 | ILC_MASK, static_cast<int>(glyphs.size()), 0);
    for (int number : glyphs) {
        char name[8];
        name[0] = static_cast<char>('0' + number / 10 % 10);
        name[1] = static_cast<char>('0' + number % 10);
        name[2] = '\0';
        const Glyph *g = find(name);
        HBITMAP mask = nullptr;
        HBITMAP colour = g ? draw(*g, GetSysColor(COLOR_BTNFACE), scale, &mask) : nullptr;
        ImageList_Add(list, colour, mask);
        if (colour)
            DeleteObject(colour);
        if (mask)
            DeleteObject(mask);
    }
    return list;
}

HBITMAP GlyphBitmap(const std::string &name, COLORREF background, int scale)
{
    const Glyph *g = find(name);
    return g ? draw(*g, background, scale < 1 ? 1 : scale, nullptr) : nullptr;
}

}  // namespace qv::win
