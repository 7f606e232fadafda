// Writes the learning chart's background picture: a 395 x 280 bitmap whose axes match the
// dialog's chart coordinates (iteration 0 at x = 28, the last iteration at x = 388; error 0
// at y = 270, the scale's top at y = 10). The dialog draws the error scale, which follows
// the curve, the iteration ticks in black and the curve in red, so the picture uses
// neither colour.
//
// Usage: brevalo_chart_picture <output.bmp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int width = 395;
constexpr int height = 280;
constexpr int left = 28;
constexpr int right = 388;
constexpr int top = 10;
constexpr int bottom = 270;

struct Colour {
    std::uint8_t r, g, b;
};

constexpr Colour background{255, 255, 255};
constexpr Colour plotArea{250, 251, 253};
constexpr Colour axis{96, 96, 104};
constexpr Colour text{96, 96, 104};

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost pixel.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};

constexpr Glyph glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'s', {0x00, 0x00, 0x0F, 0x10, 0x0E, 0x01, 0x1E}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
};

class Picture {
public:
    Picture() : pixels(width * height, background) {}

    void set(int x, int y, Colour colour) {
        if (x < 0 || x >= width || y < 0 || y >= height)
            return;
        pixels[y * width + x] = colour;
    }
    void fill(int x0, int y0, int x1, int y1, Colour colour) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                set(x, y, colour);
    }
    // Text with its top-left corner at (x, y); 6 pixels per character.
    void write(int x, int y, const std::string& line, Colour colour) {
        for (char c : line) {
            for (const Glyph& glyph : glyphs) {
                if (glyph.c != c)
                    continue;
                for (int row = 0; row < 7; ++row)
                    for (int column = 0; column < 5; ++column)
                        if (glyph.rows[row] & (0x10 >> column))
                            set(x + column, y + row, colour);
            }
            x += 6;
        }
    }

    // 24-bit, bottom-up rows padded to four bytes.
    bool save(const std::string& path) const {
        const int rowSize = (width * 3 + 3) / 4 * 4;
        const std::uint32_t dataSize = static_cast<std::uint32_t>(rowSize * height);
        std::vector<std::uint8_t> file;
        auto put16 = [&file](std::uint32_t v) {
            file.push_back(static_cast<std::uint8_t>(v));
            file.push_back(static_cast<std::uint8_t>(v >> 8));
        };
        auto put32 = [&put16](std::uint32_t v) {
            put16(v & 0xFFFF);
            put16(v >> 16);
        };
        file.push_back('B');
        file.push_back('M');
        put32(14 + 40 + dataSize);
        put32(0);
        put32(14 + 40);
        put32(40);
        put32(width);
        put32(height);
        put16(1);
        put16(24);
        put32(0);
        put32(dataSize);
        put32(2835); // 72 dpi
        put32(2835);
        put32(0);
        put32(0);
        for (int y = height - 1; y >= 0; --y) {
            for (int x = 0; x < width; ++x) {
                const Colour& c = pixels[y * width + x];
                file.push_back(c.b);
                file.push_back(c.g);
                file.push_back(c.r);
            }
            for (int pad = width * 3; pad < rowSize; ++pad)
                file.push_back(0);
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        return static_cast<bool>(out);
    }

private:
    std::vector<Colour> pixels;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.bmp>\n", argv[0]);
        return 2;
    }
    Picture picture;
    picture.fill(left + 1, top, right, bottom - 1, plotArea);
    picture.fill(left, top - 4, left, bottom, axis);
    picture.fill(left, bottom, right + 4, bottom, axis);
    // Arrow heads on both axes.
    for (int d = 1; d <= 3; ++d) {
        picture.fill(left - d, top - 4 + d, left + d, top - 4 + d, axis);
        picture.fill(right + 4 - d, bottom - d, right + 4 - d, bottom + d, axis);
    }
    picture.write(left + 6, 1, "error", text);
    picture.write(right - 6 * 10 - 6, bottom + 3, "iterations", text);
    if (!picture.save(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
