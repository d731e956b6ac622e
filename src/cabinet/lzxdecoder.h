// The LZX decoder: one compressed stream per folder, fed one data block
// (one frame of up to 32 KiB of output) at a time.
//
// Each frame is decoded straight into the folder's sliding window, where it
// lies contiguously: frames are 32 KiB and the window a multiple of that.
// The bit stream of a frame starts afresh at its data block's first byte,
// except inside an uncompressed block, whose bytes run on from frame to
// frame; the padding byte after such a block of odd size comes just before
// the next block, in the next frame when the block filled its own (as
// cabextract and 7-Zip read it).
// The E8 call translation is then undone on the copy handed out, so matches
// keep referring to the bytes as compressed. Huffman symbols are read through
// one lookup table per tree indexed by the next bits of the stream; the rare
// codes longer than the table are found by walking the canonical code
// lengths. Everything read from the stream is checked before use: a damaged
// frame ends in BadData, never in a read or write outside the buffers.
#pragma once

#include <cstdint>

#include "cabinet/lzxformat.h"
#include "cabinet/mszip.h"

namespace cab::detail {

// A canonical Huffman code over up to Symbols symbols, decoded through a
// table of 2^TableBits entries.
template <int Symbols, int TableBits>
struct LzxHuffman {
    // (symbol << 5) | code length; 0 sends the lookup to the longer codes.
    std::uint16_t table[1u << TableBits];
    std::uint32_t firstCode[lzx::kMaxCodeLength + 1];
    std::uint16_t count[lzx::kMaxCodeLength + 1];
    std::uint16_t firstIndex[lzx::kMaxCodeLength + 1];
    std::uint16_t sorted[Symbols];

    // False when the lengths claim more codes than there are (an
    // over-subscribed code). An incomplete or empty code is accepted: its
    // missing codes fail when met.
    bool build(const std::uint8_t *lengths, int n);
};

class LzxDecoder {
public:
    LzxDecoder() = default;
    ~LzxDecoder();
    LzxDecoder(const LzxDecoder &) = delete;
    LzxDecoder &operator=(const LzxDecoder &) = delete;

    enum class Result { Ok, BadData, NoMemory };

    // Starts a folder whose window is 2^windowBits bytes (15..21). The window
    // comes from mem and is kept for later folders while it is large enough.
    Result reset(ZAlloc mem, int windowBits);
    // Decodes the folder's next frame from the bytes of one data block into
    // out, exactly size bytes (1..32768). last: no frame follows in this
    // folder, so a block that still owes bytes is damage.
    Result decodeFrame(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out, std::uint32_t size, bool last);

private:
    // --- bit reading: 16-bit little-endian words, most significant bit first
    void startBits(std::uint32_t at);
    void refill();
    std::uint32_t peek(int n) const { return static_cast<std::uint32_t>(buf_ >> (64 - n)); }
    void consume(int n)
    {
        buf_ <<= n;
        count_ -= n;
    }
    std::uint32_t bits(int n);  // n = 0..32
    bool overrun() const;
    std::uint32_t bytePosition() const;  // of the next unread byte, the buffer being word-aligned

    template <int S, int B>
    int decode(const LzxHuffman<S, B> &h);

    bool readBlockHeader();
    bool readLengths(std::uint8_t *lengths, int first, int last);
    bool decodeSymbols(std::uint32_t at, std::uint32_t end);
    bool copyRaw(std::uint32_t at, std::uint32_t n);
    void undoE8(std::uint8_t *out, std::uint32_t size) const;

    ZAlloc mem_;
    std::uint8_t *window_ = nullptr;
    std::uint32_t allocated_ = 0;
    std::uint32_t windowSize_ = 0;
    std::uint32_t maxOffset_ = 0;
    int mainSymbols_ = 0;

    // Folder state.
    std::uint32_t windowPos_ = 0;  // where the next frame starts in the window
    std::uint32_t folderPos_ = 0;  // bytes of the folder produced before this frame
    bool started_ = false;         // the stream header has been read
    bool ended_ = false;           // a short frame came: nothing may follow
    bool e8_ = false;
    std::uint32_t e8Size_ = 0;
    std::uint32_t r_[3] = {1, 1, 1};
    int blockType_ = 0;
    std::uint32_t blockLeft_ = 0;  // bytes the open block still owes
    std::uint32_t rawSize_ = 0;    // size of the last block, for the padding after an uncompressed one
    bool padPending_ = false;      // a padding byte comes before the next block header
    std::uint8_t mainLengths_[lzx::kNumChars + 8 * lzx::kMaxPositionSlots] = {};
    std::uint8_t lengthLengths_[lzx::kLengthSymbols] = {};

    // Input of the frame under way.
    const std::uint8_t *in_ = nullptr;
    std::uint32_t n_ = 0;
    std::uint32_t pos_ = 0;  // next byte to load; may run past n_, which then loads zeros
    std::uint64_t buf_ = 0;  // unread bits, at the top
    int count_ = 0;
    // Inside an uncompressed block bytes are read straight at pos_; such a
    // block runs on across frames with no realignment in between.
    bool raw_ = false;

    // Table sizes: 11 bits keep the main tree's table at 4 KiB, well inside
    // the first-level cache; the longer codes are those of rare symbols.
    // Measured in CPU time on 40 MB of ledger-like records (window 21),
    // 10, 11 and 12 bits all decode at 700-800 MB/s.
    LzxHuffman<lzx::kNumChars + 8 * lzx::kMaxPositionSlots, 11> main_;
    LzxHuffman<lzx::kLengthSymbols, 10> length_;
    LzxHuffman<lzx::kAlignedSymbols, 7> aligned_;
    LzxHuffman<lzx::kPretreeSymbols, 8> pretree_;
};

}  // namespace cab::detail
