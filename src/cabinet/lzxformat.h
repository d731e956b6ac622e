// Constants of the LZX method as cabinets use it, shared by the encoder and
// the decoder so that both count position slots, footer bits and tree sizes
// the same way. The layout is described in the published LZX format; one
// compressed stream runs through a whole folder, cut into 32 KiB frames (one
// per data block), each frame padded to a 16-bit boundary.
#pragma once

#include <array>
#include <cstdint>

namespace cab::detail::lzx {

constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;
constexpr std::uint32_t kFrameSize = 32768;
// A frame never grows past this when compressed (the worst case of the format).
constexpr std::uint32_t kMaxFrameCompressed = kFrameSize + 6144;

constexpr int kNumChars = 256;
constexpr int kPretreeSymbols = 20;
constexpr int kPretreeLengthBits = 4;
constexpr int kLengthSymbols = 249;
constexpr int kAlignedSymbols = 8;
constexpr int kAlignedLengthBits = 3;
constexpr int kNumPrimaryLengths = 7;  // length headers 0..6 mean 2..8; 7 reads the length tree
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kMaxCodeLength = 16;
constexpr int kMaxPositionSlots = 50;

enum BlockType : int { kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3 };

// Position slots for window sizes 2^15 .. 2^21.
constexpr int positionSlots(int windowBits)
{
    constexpr int counts[] = {30, 32, 34, 36, 38, 42, 50};
    return windowBits < kMinWindowBits || windowBits > kMaxWindowBits ? 0 : counts[windowBits - kMinWindowBits];
}
constexpr int mainTreeSize(int windowBits) { return kNumChars + 8 * positionSlots(windowBits); }
// Offsets reach back at most this far.
constexpr std::uint32_t maxOffset(int windowBits) { return (1u << windowBits) - 3; }

// Extra (footer) bits of each position slot.
constexpr std::array<std::uint8_t, kMaxPositionSlots> kFooterBits = [] {
    std::array<std::uint8_t, kMaxPositionSlots> f{};
    for (int s = 0; s < kMaxPositionSlots; ++s)
        f[s] = static_cast<std::uint8_t>(s < 4 ? 0 : s < 36 ? (s - 2) / 2 : 17);
    return f;
}();

// First formatted offset of each position slot.
constexpr std::array<std::uint32_t, kMaxPositionSlots> kPositionBase = [] {
    std::array<std::uint32_t, kMaxPositionSlots> b{};
    for (int s = 1; s < kMaxPositionSlots; ++s)
        b[s] = b[s - 1] + (1u << kFooterBits[s - 1]);
    return b;
}();

static_assert(kPositionBase[49] == 1966080);
static_assert(kPositionBase[49] + (1u << kFooterBits[49]) - 1 - 2 == maxOffset(21));

}  // namespace cab::detail::lzx
