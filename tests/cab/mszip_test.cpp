// Tests of the MSZIP method: blocks made by zlib's raw deflate, and
// deflate streams written bit by bit for the cases an encoder never makes.
#include <gtest/gtest.h>

#include "cab/mszip.h"
#include "cab_test_support.h"

namespace {

// Writes a deflate stream: plain fields least significant bit first,
// Huffman codes most significant bit first, prefixed with "CK".
class BitWriter {
public:
    BitWriter() : bytes_{'C', 'K'} {}
    BitWriter& Bits(uint32_t value, int count)
    {
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
        return *this;
    }
    BitWriter& Code(uint32_t code, int length)
    {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
        return *this;
    }
    // A fixed-code literal/length symbol.
    BitWriter& Fixed(uint32_t symbol)
    {
        if (symbol < 144) return Code(0x30 + symbol, 8);
        if (symbol < 256) return Code(0x190 + symbol - 144, 9);
        if (symbol < 280) return Code(symbol - 256, 7);
        return Code(0xC0 + symbol - 280, 8);
    }
    Bytes Done() const { return bytes_; }

private:
    void Bit(uint32_t bit)
    {
        if (used_ == 0) bytes_.push_back(0);
        bytes_.back() |= uint8_t(bit << used_);
        used_ = (used_ + 1) & 7;
    }
    Bytes bytes_;
    int used_ = 0;
};

void* Alloc(uint32_t size) { return malloc(size); }
void Free(void* p) { free(p); }

struct Method {
    MszipDecompressor* state = nullptr;
    Bytes window = Bytes(32768);
    Method()
    {
        uint32_t size = 0, input = 0;
        EXPECT_EQ(MszipCreate(&size, Alloc, Free, &input, &state), MSZIP_OK);
        MszipReset(state);
    }
    ~Method() { EXPECT_EQ(MszipDestroy(state), MSZIP_OK); }
    int Decode(const Bytes& block, uint32_t* count)
    {
        *count = 32768;
        return MszipDecompress(state, block.data(), uint32_t(block.size()), window.data(), count);
    }
};

// The header of a final dynamic block with the given counts.
BitWriter DynamicHeader(uint32_t literals, uint32_t distances, uint32_t codeLengths)
{
    BitWriter w;
    w.Bits(1, 1).Bits(2, 2).Bits(literals - 257, 5).Bits(distances - 1, 5).Bits(codeLengths - 4, 4);
    return w;
}

// A final dynamic block whose code-length code gives symbols 0, 1, 2 and 18
// two bits each; literal/length code 'a' (1 bit), 256 and 257 (2 bits); the
// distance code is a single one-bit code for distance 1.
BitWriter SingleDistanceCodeBlock()
{
    // Code-length code lengths in transmission order 16, 17, 18, 0, 8, 7,
    // 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1.
    const uint32_t order[18] = {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
    BitWriter w = DynamicHeader(258, 1, 18);
    for (uint32_t len : order) w.Bits(len, 3);
    // Canonical codes: 0 -> 00, 1 -> 01, 2 -> 10, 18 -> 11.
    w.Code(3, 2).Bits(97 - 11, 7);         // 97 zeros
    w.Code(1, 2);                          // 'a' has length 1
    w.Code(3, 2).Bits(138 - 11, 7);        // 138 zeros
    w.Code(3, 2).Bits(20 - 11, 7);         // 20 zeros, up to 255
    w.Code(2, 2).Code(2, 2);               // 256 and 257 have length 2
    w.Code(1, 2);                          // distance code 0 has length 1
    return w;
}

TEST(Mszip, CreateSettlesSizes)
{
    struct Case {
        uint32_t asked, window;
    };
    const Case cases[] = {{0, 32768}, {40000, 32768}, {32768, 32768}, {1000, 1000}};
    for (const Case& c : cases) {
        uint32_t window = c.asked, input = 0;
        EXPECT_EQ(MszipCreate(&window, Alloc, Free, &input, nullptr), MSZIP_OK);
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(input, c.window + 12);
    }
}

TEST(Mszip, HandMadeBlocksGiveTheirResult)
{
    struct Case {
        const char* name;
        Bytes block;
        int result;
        std::string output;
    };
    std::vector<Case> cases = {
        {"end of block only", BitWriter().Bits(1, 1).Bits(1, 2).Fixed(256).Done(), MSZIP_OK, ""},
        {"fixed literals with a match", BitWriter().Bits(1, 1).Bits(1, 2).Fixed('a').Fixed('b').Fixed(257).Code(1, 5).Fixed(256).Done(),
         MSZIP_OK, "ababa"},
        {"missing end-of-block bits read as zeros", BitWriter().Bits(1, 1).Bits(1, 2).Fixed('z').Done(), MSZIP_OK, "z"},
        {"stored block", BitWriter().Bits(1, 1).Bits(0, 2).Bits(0, 5).Bits(5, 16).Bits(0xFFFA, 16).Bits('h', 8).Bits('e', 8).Bits('l', 8).Bits('l', 8).Bits('o', 8).Done(),
         MSZIP_OK, "hello"},
        {"stored length complement wrong", BitWriter().Bits(1, 1).Bits(0, 2).Bits(0, 5).Bits(5, 16).Bits(0xFFFB, 16).Bits(0, 40).Done(),
         MSZIP_DATA_ERROR, ""},
        {"stored block longer than the input", BitWriter().Bits(1, 1).Bits(0, 2).Bits(0, 5).Bits(5, 16).Bits(0xFFFA, 16).Bits(0, 32).Done(),
         MSZIP_DATA_ERROR, ""},
        {"block type 3", BitWriter().Bits(1, 1).Bits(3, 2).Done(), MSZIP_DATA_ERROR, ""},
        {"no CK", Bytes{'C', 'X', 0x03, 0x00}, MSZIP_DATA_ERROR, ""},
        {"one byte", Bytes{'C'}, MSZIP_DATA_ERROR, ""},
        {"fixed literal/length symbol 286", BitWriter().Bits(1, 1).Bits(1, 2).Fixed(286).Done(), MSZIP_DATA_ERROR, ""},
        {"fixed distance code 30", BitWriter().Bits(1, 1).Bits(1, 2).Fixed('a').Fixed(257).Code(30, 5).Done(), MSZIP_DATA_ERROR, ""},
        {"match before the start of the folder", BitWriter().Bits(1, 1).Bits(1, 2).Fixed('a').Fixed(257).Code(2, 5).Fixed(256).Done(),
         MSZIP_DATA_ERROR, ""},
        {"287 literal/length codes", DynamicHeader(287, 1, 4).Bits(0, 12).Done(), MSZIP_DATA_ERROR, ""},
        {"31 distance codes", DynamicHeader(257, 31, 4).Bits(0, 12).Done(), MSZIP_DATA_ERROR, ""},
        {"over-subscribed code-length code", DynamicHeader(257, 1, 4).Bits(1, 3).Bits(1, 3).Bits(1, 3).Bits(0, 3).Done(), MSZIP_DATA_ERROR, ""},
        {"incomplete code-length code", DynamicHeader(257, 1, 4).Bits(2, 3).Bits(2, 3).Bits(0, 3).Bits(0, 3).Done(), MSZIP_DATA_ERROR, ""},
        {"repeat past the end of the lengths",
         // code-length code: 18 and 0 one bit each; 138 + 138 zeros > 258.
         DynamicHeader(257, 1, 4).Bits(0, 3).Bits(0, 3).Bits(1, 3).Bits(1, 3).Code(1, 1).Bits(127, 7).Code(1, 1).Bits(127, 7).Done(),
         MSZIP_DATA_ERROR, ""},
        {"single one-bit distance code", SingleDistanceCodeBlock().Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2).Done(), MSZIP_OK, "aaaa"},
        {"unused half of a one-bit code", SingleDistanceCodeBlock().Code(0, 1).Code(3, 2).Code(1, 1).Done(), MSZIP_DATA_ERROR, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Method m;
        uint32_t count;
        int result = m.Decode(c.block, &count);
        EXPECT_EQ(result, c.result);
        if (result == MSZIP_OK && c.result == MSZIP_OK) {
            EXPECT_EQ(std::string(m.window.begin(), m.window.begin() + count), c.output);
        }
    }
}

TEST(Mszip, OutputStopsAtTheWindowSize)
{
    Method m;
    uint32_t count;
    // One deflate stream for all 40000 bytes: the method stops at 32768.
    z_stream z;
    memset(&z, 0, sizeof(z));
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes data(40000, 'r'), block(2 + 1000);
    block[0] = 'C';
    block[1] = 'K';
    z.next_in = data.data();
    z.avail_in = 40000;
    z.next_out = &block[2];
    z.avail_out = 1000;
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    block.resize(2 + z.total_out);
    deflateEnd(&z);
    EXPECT_EQ(m.Decode(block, &count), MSZIP_OK);
    EXPECT_EQ(count, 32768u);
    EXPECT_TRUE(Bytes(m.window.begin(), m.window.end()) == Bytes(32768, 'r'));
}

TEST(Mszip, SecondBlockReachesIntoTheFirst)
{
    Method m;
    Bytes first = MakeNoise(32768, 13);
    uint32_t count;
    ASSERT_EQ(m.Decode(MszipBlocks(first)[0].stored, &count), MSZIP_OK);
    // A fixed block with one match. Length 100 is symbol 279 (base 99, 4 extra bits, value 1); distance
    // 100 is code 13 (base 97, 5 extra bits, value 3).
    BitWriter block;
    block.Bits(1, 1).Bits(1, 2).Fixed(279).Bits(1, 4).Code(13, 5).Bits(3, 5).Fixed(256);
    ASSERT_EQ(m.Decode(block.Done(), &count), MSZIP_OK);
    ASSERT_EQ(count, 100u);
    EXPECT_TRUE(Bytes(m.window.begin(), m.window.begin() + 100) == Slice(first, 32668, 100));
}

TEST(Mszip, ZlibBlocksDecodeAcrossAFolder)
{
    struct Case {
        const char* name;
        Bytes data;
        int level;
    };
    Bytes mixed = MakeText(100000, 14);
    Bytes noise = MakeNoise(50000, 15);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    const Case cases[] = {
        {"text", MakeText(200000, 16), 9},
        {"noise, stored by deflate", MakeNoise(70000, 17), 6},
        {"mixed", mixed, 1},
        {"runs", Bytes(100000, 0), 6},
        {"short", ToBytes("x"), 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Method m;
        Bytes out;
        for (const DataBlock& b : MszipBlocks(c.data, c.level)) {
            uint32_t count;
            ASSERT_EQ(m.Decode(b.stored, &count), MSZIP_OK);
            ASSERT_EQ(count, b.uncompressed);
            out.insert(out.end(), m.window.begin(), m.window.begin() + count);
        }
        EXPECT_TRUE(out == c.data);
    }
}

TEST(Mszip, WrongTagIsRefusedAndNothingChanges)
{
    Method m;
    m.state->tag = 0x12345678;
    uint32_t count = 32768;
    Bytes block = BitWriter().Bits(1, 1).Bits(1, 2).Fixed('q').Fixed(256).Done();
    m.window[0] = 7;
    EXPECT_EQ(MszipReset(m.state), MSZIP_BAD_STATE);
    EXPECT_EQ(MszipDecompress(m.state, block.data(), uint32_t(block.size()), m.window.data(), &count), MSZIP_BAD_STATE);
    EXPECT_EQ(MszipDestroy(m.state), MSZIP_BAD_STATE);
    EXPECT_EQ(count, 32768u);
    EXPECT_EQ(m.window[0], 7);
    EXPECT_EQ(m.state->tag, 0x12345678u);
    m.state->tag = MSZIP_TAG;
}

TEST(Mszip, InputLongerThanABlockIsRefused)
{
    Method m;
    Bytes block(32768 + 13, 0);
    block[0] = 'C';
    block[1] = 'K';
    uint32_t count;
    EXPECT_EQ(m.Decode(block, &count), MSZIP_INPUT_TOO_LONG);
}

}  // namespace
