// Writes HAND-M.CUR, the pointer the wizard shows over its buttons: a white pointing hand with a
// black outline, as a Windows cursor file (an icon directory of type 2 whose entry carries the
// hot spot, then one 32 x 32 image in the icon format: a bitmap header, 32-bit BGRA pixels and
// the 1-bit AND mask, both bottom-up).
//
//   tallowby-handcursor OUTPUT

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

constexpr int kSize = 32;
// The tip of the index finger.
constexpr int kHotSpotX = 6;
constexpr int kHotSpotY = 1;

// 'X' outline (black), 'o' fill (white), '.' transparent.
constexpr std::array<std::string_view, kSize> kHand = {
    "......XX........................", //
    ".....XooX.......................", //
    ".....XooX.......................", //
    ".....XooX.......................", //
    ".....XooX.......................", //
    ".....XooXXX.....................", //
    ".....XooXooXXX..................", //
    ".....XooXooXooXX................", //
    ".XX..XooXooXooXoX...............", //
    "XooX.XooooooooXooX..............", //
    "XoooXXoooooooooooX..............", //
    ".XoooXoooooooooooX..............", //
    "..XooXoooooooooooX..............", //
    "..XoooooooooooooX...............", //
    "...XooooooooooooX...............", //
    "...XoooooooooooX................", //
    "....XooooooooooX................", //
    "....XoooooooooX.................", //
    ".....XooooooooX.................", //
    ".....XooooooooX.................", //
    ".....XXXXXXXXXX.................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
    "................................", //
};

constexpr bool handIsWellFormed() {
    for (std::string_view row : kHand) {
        if (row.size() != kSize)
            return false;
        for (char c : row) {
            if (c != 'X' && c != 'o' && c != '.')
                return false;
        }
    }
    return kHand[kHotSpotY][kHotSpotX] != '.';
}
static_assert(handIsWellFormed(),
              "every row is 32 of 'X', 'o', '.', and the hot spot is on the hand");

class Writer {
public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v & 0xFF));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v & 0xFFFF));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> cursorFile() {
    constexpr std::uint32_t kHeaderSize = 40;
    constexpr std::uint32_t kPixelBytes = kSize * kSize * 4;
    constexpr std::uint32_t kMaskRowBytes = ((kSize + 31) / 32) * 4;
    constexpr std::uint32_t kMaskBytes = kMaskRowBytes * kSize;
    constexpr std::uint32_t kImageBytes = kHeaderSize + kPixelBytes + kMaskBytes;
    constexpr std::uint32_t kImageOffset = 6 + 16;

    Writer w;
    // Icon directory: reserved, type 2 (cursor), one image.
    w.u16(0);
    w.u16(2);
    w.u16(1);
    // Its one entry: width, height, colour count, reserved, hot spot x and y, size, offset.
    w.u8(kSize);
    w.u8(kSize);
    w.u8(0);
    w.u8(0);
    w.u16(kHotSpotX);
    w.u16(kHotSpotY);
    w.u32(kImageBytes);
    w.u32(kImageOffset);

    // Bitmap header; the height counts the pixels and the mask together.
    w.u32(kHeaderSize);
    w.u32(kSize);
    w.u32(2 * kSize);
    w.u16(1);  // planes
    w.u16(32); // bits per pixel
    w.u32(0);  // no compression
    w.u32(kPixelBytes + kMaskBytes);
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.u32(0);

    for (int y = kSize - 1; y >= 0; --y) {
        for (char c : kHand[static_cast<std::size_t>(y)]) {
            const std::uint8_t grey = c == 'o' ? 0xFF : 0x00;
            w.u8(grey); // blue
            w.u8(grey); // green
            w.u8(grey); // red
            w.u8(c == '.' ? 0x00 : 0xFF);
        }
    }
    for (int y = kSize - 1; y >= 0; --y) {
        const std::string_view row = kHand[static_cast<std::size_t>(y)];
        for (std::uint32_t b = 0; b < kMaskRowBytes; ++b) {
            std::uint8_t bits = 0;
            for (int i = 0; i < 8; ++i) {
                const std::size_t x = b * 8 + static_cast<std::size_t>(i);
                // A set bit leaves the screen as it is: transparent.
                if (x >= row.size() || row[x] == '.')
                    bits = static_cast<std::uint8_t>(bits | (0x80 >> i));
            }
            w.u8(bits);
        }
    }
    return w.bytes();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tallowby-handcursor OUTPUT\n";
        return 2;
    }
    const std::vector<std::uint8_t> bytes = cursorFile();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "tallowby-handcursor: cannot write " << argv[1] << '\n';
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
