// MSZIP decoding: "CK" framing around raw deflate (RFC 1951), one cabinet
// data block per call, written straight into the decoder's 32768-byte
// output buffer. The inflater keeps a 64-bit bit buffer, decodes through
// two-level lookup tables and copies matches in 8-byte steps; near the ends
// of the input and of the output it falls back to a careful path that reads
// zeros past the input and stops exactly at the output limit.
#include "cab/mszip.h"

#include <string.h>

namespace {

// Table entry layout (32 bits):
//   bits 0-7    bits to drop from the bit buffer: the code's length, plus
//               its extra bits for a length or distance, so that one shift
//               passes both (for a link: the root width)
//   bits 8-11   kind flags below; none set means a length or distance
//   bits 12-15  extra bits to read after the code (link: subtable width)
//   bits 16-31  literal byte, length or distance base, code-length symbol,
//               or (link) the index of the subtable
const uint32_t kLiteral = 0x100;
const uint32_t kEndOfBlock = 0x200;
const uint32_t kLink = 0x400;
const uint32_t kInvalid = 0x800;

const uint32_t kMaxCodeLength = 15;
const uint32_t kLiteralRootBits = 10;
const uint32_t kDistanceRootBits = 8;
const uint32_t kCodeLengthRootBits = 7;
const uint32_t kLongestMatch = 258;

enum SymbolKind { kLiteralLengthSymbols, kDistanceSymbols, kCodeLengthSymbols };

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

uint32_t MakeEntry(SymbolKind kind, uint32_t symbol, uint32_t length)
{
    switch (kind) {
    case kLiteralLengthSymbols:
        if (symbol < 256) return kLiteral | (symbol << 16) | length;
        if (symbol == 256) return kEndOfBlock | length;
        if (symbol < 286) {
            uint32_t i = symbol - 257;
            return (uint32_t(kLengthBase[i]) << 16) | (uint32_t(kLengthExtra[i]) << 12) | (length + kLengthExtra[i]);
        }
        return kInvalid | length;  // 286 and 287 exist only in the fixed code
    case kDistanceSymbols:
        if (symbol < 30)
            return (uint32_t(kDistanceBase[symbol]) << 16) | (uint32_t(kDistanceExtra[symbol]) << 12) |
                   (length + kDistanceExtra[symbol]);
        return kInvalid | length;  // 30 and 31 exist only in the fixed code
    case kCodeLengthSymbols:
        break;
    }
    return (symbol << 16) | length;
}

// Deflate packs Huffman codes most significant bit first into a stream read
// least significant bit first, so tables are indexed by reversed codes.
struct ReversedBytes {
    uint8_t value[256];
    constexpr ReversedBytes() : value()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = 0;
            for (uint32_t bit = 0; bit < 8; ++bit)
                if (i & (1u << bit)) r |= 0x80u >> bit;
            value[i] = uint8_t(r);
        }
    }
};
constexpr ReversedBytes kReversed;

inline uint32_t ReverseBits(uint32_t code, uint32_t length)
{
    uint32_t reversed = (uint32_t(kReversed.value[code & 0xFF]) << 8) | kReversed.value[(code >> 8) & 0xFF];
    return reversed >> (16 - length);
}

// Builds a canonical Huffman decoding table from code lengths. Refuses an
// over-subscribed set, and an incomplete one unless it is a single one-bit
// code; all-zero lengths give a table whose every entry is invalid. With
// narrow, the first-level width shrinks to the longest code; without, it
// is exactly rootLimit, so that the decoding loop can use a constant mask.
bool BuildTable(const uint8_t* lengths, uint32_t count, SymbolKind kind, uint32_t rootLimit, bool narrow,
                uint32_t* table, uint32_t capacity, uint32_t* rootBits)
{
    uint32_t counts[kMaxCodeLength + 1] = {0};
    for (uint32_t i = 0; i < count; ++i) counts[lengths[i]]++;
    counts[0] = 0;

    uint32_t shortest = 0, longest = 0;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        if (counts[len] == 0) continue;
        if (shortest == 0) shortest = len;
        longest = len;
    }
    if (longest == 0) {
        uint32_t root = narrow ? 1 : rootLimit;
        if ((1u << root) > capacity) return false;
        for (uint32_t i = 0; i < (1u << root); ++i) table[i] = kInvalid | root;
        *rootBits = root;
        return true;
    }

    int32_t left = 1;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - int32_t(counts[len]);
        if (left < 0) return false;
    }
    if (left > 0 && longest != 1) return false;

    uint32_t root = rootLimit;
    if (narrow && root > longest) root = longest;
    if (narrow && root < shortest) root = shortest;
    uint32_t rootSize = 1u << root;
    if (rootSize > capacity) return false;

    // Symbols sorted by (length, symbol) with their canonical codes.
    uint16_t sorted[288];
    uint16_t codes[288];
    uint32_t offsets[kMaxCodeLength + 2];
    offsets[1] = 0;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) offsets[len + 1] = offsets[len] + counts[len];
    uint32_t used = offsets[kMaxCodeLength + 1];
    uint32_t nextCode[kMaxCodeLength + 1];
    uint32_t code = 0;
    nextCode[0] = 0;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + counts[len - 1]) << 1;
        nextCode[len] = code;
    }
    for (uint32_t symbol = 0; symbol < count; ++symbol) {
        uint32_t len = lengths[symbol];
        if (len == 0) continue;
        uint32_t at = offsets[len]++;
        sorted[at] = uint16_t(symbol);
        codes[at] = uint16_t(ReverseBits(nextCode[len]++, len));
    }

    // The first level grows one bit at a time: the table of width len - 1
    // is doubled, which repeats every shorter code in the new half, and
    // the codes of length len are written at their places. Places no code
    // reaches (only in the one-bit exception) decode as invalid.
    table[0] = kInvalid | root;
    uint32_t i = 0;
    for (uint32_t len = 1; len <= root; ++len) {
        uint32_t half = 1u << (len - 1);
        memcpy(table + half, table, half * sizeof(uint32_t));
        for (; i < used && lengths[sorted[i]] == len; ++i) table[codes[i]] = MakeEntry(kind, sorted[i], len);
    }

    uint32_t next = rootSize;  // first free entry for subtables
    uint32_t currentPrefix = 0xFFFFFFFF, subStart = 0, subBits = 0;
    for (; i < used; ++i) {
        uint32_t symbol = sorted[i], len = lengths[symbol];
        uint32_t reversed = codes[i];
        uint32_t entry = MakeEntry(kind, symbol, len);
        uint32_t prefix = reversed & (rootSize - 1);
        if (prefix != currentPrefix) {
            // Codes sharing a prefix are consecutive in canonical order, and
            // the last of them is the longest.
            uint32_t longestHere = len;
            for (uint32_t j = i + 1; j < used; ++j) {
                uint32_t lenJ = lengths[sorted[j]];
                if ((codes[j] & (rootSize - 1)) != prefix) break;
                longestHere = lenJ;
            }
            currentPrefix = prefix;
            subStart = next;
            subBits = longestHere - root;
            uint32_t subSize = 1u << subBits;
            if (subStart + subSize > capacity || subStart > 0xFFFF) return false;
            next += subSize;
            table[prefix] = kLink | (subBits << 12) | (subStart << 16) | root;
        }
        for (uint32_t at = reversed >> root; at < (1u << subBits); at += 1u << (len - root)) table[subStart + at] = entry;
    }
    *rootBits = root;
    return true;
}

inline uint32_t Lookup(const uint32_t* table, uint32_t mask, uint64_t bits)
{
    uint32_t entry = table[bits & mask];
    if (__builtin_expect((entry & kLink) != 0, 0)) {
        uint32_t sub = (uint32_t(bits) >> (entry & 0xFF)) & ((1u << ((entry >> 12) & 0xF)) - 1);
        entry = table[(entry >> 16) + sub];
    }
    return entry;
}

// The value of a looked-up entry: its base plus the extra bits that follow
// the code in the bit buffer as it was before the entry's bits were dropped.
inline uint32_t EntryValue(uint32_t entry, uint64_t bits)
{
    uint32_t extra = (entry >> 12) & 0xF;
    uint32_t codeLength = (entry & 0xFF) - extra;
    return (entry >> 16) + (uint32_t(bits >> codeLength) & ((1u << extra) - 1));
}

inline uint64_t LoadLittleEndian64(const uint8_t* p)
{
    uint64_t word;
    memcpy(&word, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

inline void Copy8(uint8_t* dst, const uint8_t* src)
{
    uint64_t chunk;
    memcpy(&chunk, src, 8);
    memcpy(dst, &chunk, 8);
}

// Copies a match whose source lies inside the current block, dist bytes
// behind the destination, exactly len bytes: overlapping runs repeat.
inline void CopyExact(uint8_t* dst, uint32_t dist, uint32_t len)
{
    const uint8_t* src = dst - dist;
    if (dist >= 8) {
        for (; len >= 8; len -= 8, src += 8, dst += 8) Copy8(dst, src);
    } else if (dist == 1) {
        memset(dst, *src, len);
        return;
    }
    while (len--) *dst++ = *src++;
}

// The same in 8-byte steps that may write up to kOvershoot bytes past the
// match; only for the fast loop, which keeps that much room below its
// limit. Most matches are short, so the first 40 bytes are copied without
// a loop whose exit the processor would have to guess.
const uint32_t kOvershoot = 40;

inline uint8_t* CopyFast(uint8_t* dst, uint32_t dist, uint32_t len)
{
    const uint8_t* src = dst - dist;
    uint8_t* end = dst + len;
    if (dist >= 8) {
        Copy8(dst, src);
        Copy8(dst + 8, src + 8);
        Copy8(dst + 16, src + 16);
        Copy8(dst + 24, src + 24);
        Copy8(dst + 32, src + 32);
        if (len <= 40) return end;
        dst += 40;
        src += 40;
        do {
            Copy8(dst, src);
            dst += 8;
            src += 8;
        } while (dst < end);
    } else if (dist == 1) {
        uint64_t run = 0x0101010101010101ull * *src;
        do {
            memcpy(dst, &run, 8);
            dst += 8;
        } while (dst < end);
    } else {
        do *dst++ = *src++;
        while (dst < end);
    }
    return end;
}

// The state of one block's decoding. Bytes past the end of the input read
// as zeros; inPos may run beyond inLength to count them.
struct Inflater {
    MszipDecompressor* state;
    const uint8_t* in;
    uint32_t inLength;
    uint32_t inPos;
    uint64_t bits;
    uint32_t bitCount;
    uint8_t* out;
    uint32_t pos;
    uint32_t limit;
    bool historyUsable;

    void Refill()
    {
        while (bitCount <= 56) {
            uint64_t byte = inPos < inLength ? in[inPos] : 0;
            bits |= byte << bitCount;
            bitCount += 8;
            ++inPos;
        }
    }

    uint32_t Take(uint32_t n)
    {
        if (bitCount < n) Refill();
        uint32_t value = uint32_t(bits) & ((1u << n) - 1);
        bits >>= n;
        bitCount -= n;
        return value;
    }

    // Decodes one code with its extra bits; value is the literal, symbol,
    // length or distance.
    uint32_t Decode(const uint32_t* table, uint32_t mask, uint32_t* value)
    {
        if (bitCount < 32) Refill();
        uint32_t entry = Lookup(table, mask, bits);
        *value = EntryValue(entry, bits);
        bits >>= entry & 0xFF;
        bitCount -= entry & 0xFF;
        return entry;
    }

    // Copies a match exactly. A source before the start of this block lies
    // in the previous block's output, kept in the record's history. False
    // when the match reaches further back than decoded history.
    bool CopyMatch(uint32_t dist, uint32_t len)
    {
        if (dist > pos) {
            uint32_t window = state->windowSize;
            if (!historyUsable || dist > window) return false;
            uint32_t back = dist - pos;  // bytes before this block's start
            uint32_t first = back < len ? back : len;
            memcpy(out + pos, state->history + window - back, first);
            pos += first;
            len -= first;
        }
        CopyExact(out + pos, dist, len);
        pos += len;
        return true;
    }

    bool Stored()
    {
        // Drop to a byte boundary and give back the whole bytes that the
        // bit buffer had read ahead.
        inPos -= bitCount >> 3;
        bits = 0;
        bitCount = 0;
        uint32_t header[4];
        for (int i = 0; i < 4; ++i) header[i] = inPos + i < inLength ? in[inPos + i] : 0;
        inPos += 4;
        uint32_t length = header[0] | (header[1] << 8);
        uint32_t complement = header[2] | (header[3] << 8);
        if ((length ^ complement) != 0xFFFF) return false;
        if (inPos > inLength || length > inLength - inPos) return false;
        uint32_t n = length;
        if (n > limit - pos) n = limit - pos;
        memcpy(out + pos, in + inPos, n);
        pos += n;
        inPos += length;
        return true;
    }

    // Decodes one Huffman-coded deflate block. Returns false on bad data.
    bool Codes(const uint32_t* literals, const uint32_t* distances, bool* ended)
    {
        const uint32_t literalMask = (1u << kLiteralRootBits) - 1;
        const uint32_t distanceMask = (1u << kDistanceRootBits) - 1;

        // Fast loop. A refill gives at least 56 bits: three literal codes,
        // or a literal/length code with its extra bits and a distance code
        // with its extra bits (15 + 5 + 15 + 13). Each pass refills at most
        // twice (16 bytes of input) and writes at most three literals and a
        // match with its overshoot, all of which stays in bounds.
        const uint32_t kInputReach = 16;
        const uint32_t kOutputReach = 3 + kLongestMatch + kOvershoot;
        if (limit >= kOutputReach && inLength >= kInputReach && inPos <= inLength - kInputReach) {
            uint64_t b = bits;
            uint32_t n = bitCount;
            const uint8_t* ip = in + inPos;
            const uint8_t* const ipEnd = in + (inLength - kInputReach);
            uint8_t* op = out + pos;
            uint8_t* const opEnd = out + (limit - kOutputReach);
            uint32_t entry = 0;
            bool ok = true;
#define MSZIP_REFILL()                     \
    do {                                   \
        b |= LoadLittleEndian64(ip) << n;  \
        ip += (63 - n) >> 3;               \
        n |= 56;                           \
    } while (0)
#define MSZIP_DROP(count)   \
    do {                    \
        b >>= (count);      \
        n -= (count);       \
    } while (0)
#define MSZIP_LITERAL()                \
    do {                               \
        MSZIP_DROP(entry & 0xFF);      \
        *op++ = uint8_t(entry >> 16);  \
    } while (0)
            // The next first-level entry is looked up as soon as the bits
            // of the previous symbol are dropped, so that the lookup runs
            // alongside the copy and the refill. That is sound because a
            // refill fills all 64 bits of the buffer and a pass drops at
            // most 48 of them: at least 16 valid bits remain below n's
            // count or above it, and a refill does not change them.
            MSZIP_REFILL();
            entry = literals[b & literalMask];
            while (ip <= ipEnd && op <= opEnd) {
                MSZIP_REFILL();
                if (entry & kLiteral) {
                    // Up to three literals; at most 15 bits apiece leave
                    // enough for the next code.
                    MSZIP_LITERAL();
                    entry = literals[b & literalMask];
                    if (entry & kLiteral) {
                        MSZIP_LITERAL();
                        entry = literals[b & literalMask];
                        if (entry & kLiteral) {
                            MSZIP_LITERAL();
                            entry = literals[b & literalMask];
                            continue;
                        }
                    }
                    // The entry in hand was looked up from valid bits; a
                    // refill only adds bits above them.
                    MSZIP_REFILL();
                }
                if (entry & kLink) {
                    entry = Lookup(literals, literalMask, b);
                    if (entry & kLiteral) {
                        MSZIP_DROP(entry & 0xFF);
                        *op++ = uint8_t(entry >> 16);
                        entry = literals[b & literalMask];
                        continue;
                    }
                }
                uint32_t length = EntryValue(entry, b);
                MSZIP_DROP(entry & 0xFF);
                if (entry & (kEndOfBlock | kInvalid)) {
                    if (entry & kInvalid) ok = false;
                    else *ended = true;
                    break;
                }

                entry = Lookup(distances, distanceMask, b);
                uint32_t dist = EntryValue(entry, b);
                MSZIP_DROP(entry & 0xFF);
                if (entry & (kInvalid | kEndOfBlock | kLiteral)) {
                    ok = false;
                    break;
                }
                entry = literals[b & literalMask];

                if (dist <= uint32_t(op - out)) {
                    op = CopyFast(op, dist, length);
                } else {
                    pos = uint32_t(op - out);
                    if (!CopyMatch(dist, length)) {
                        ok = false;
                        break;
                    }
                    op = out + pos;
                }
            }
#undef MSZIP_REFILL
#undef MSZIP_DROP
#undef MSZIP_LITERAL
            bits = b;
            bitCount = n;
            inPos = uint32_t(ip - in);
            pos = uint32_t(op - out);
            if (!ok) return false;
            if (*ended) return true;
        }

        // Careful loop near the ends of input and output.
        for (;;) {
            if (pos == limit) return true;
            uint32_t length, dist;
            uint32_t entry = Decode(literals, literalMask, &length);
            if (entry & kLiteral) {
                out[pos++] = uint8_t(length);
                continue;
            }
            if (entry & kInvalid) return false;
            if (entry & kEndOfBlock) {
                *ended = true;
                return true;
            }
            entry = Decode(distances, distanceMask, &dist);
            if (entry & (kInvalid | kEndOfBlock | kLiteral)) return false;
            if (length > limit - pos) length = limit - pos;
            if (!CopyMatch(dist, length)) return false;
        }
    }

    bool Dynamic(bool* ended)
    {
        uint32_t literalCount = Take(5) + 257;
        uint32_t distanceCount = Take(5) + 1;
        uint32_t codeLengthCount = Take(4) + 4;
        if (literalCount > 286 || distanceCount > 30) return false;

        uint8_t lengths[286 + 30];
        uint8_t codeLengthLengths[19] = {0};
        for (uint32_t i = 0; i < codeLengthCount; ++i) codeLengthLengths[kCodeLengthOrder[i]] = uint8_t(Take(3));
        uint32_t codeLengthBits;
        if (!BuildTable(codeLengthLengths, 19, kCodeLengthSymbols, kCodeLengthRootBits, true, state->codeLengths,
                        MSZIP_CODE_LENGTH_TABLE_SIZE, &codeLengthBits))
            return false;
        const uint32_t codeLengthMask = (1u << codeLengthBits) - 1;

        uint32_t total = literalCount + distanceCount;
        for (uint32_t i = 0; i < total;) {
            uint32_t symbol;
            uint32_t entry = Decode(state->codeLengths, codeLengthMask, &symbol);
            if (entry & kInvalid) return false;
            if (symbol < 16) {
                lengths[i++] = uint8_t(symbol);
                continue;
            }
            uint32_t repeat;
            uint8_t value = 0;
            if (symbol == 16) {
                repeat = 3 + Take(2);
                if (i > 0) value = lengths[i - 1];
            } else if (symbol == 17) {
                repeat = 3 + Take(3);
            } else {
                repeat = 11 + Take(7);
            }
            if (repeat > total - i) return false;
            memset(lengths + i, value, repeat);
            i += repeat;
        }

        uint32_t literalBits, distanceBits;
        if (!BuildTable(lengths, literalCount, kLiteralLengthSymbols, kLiteralRootBits, false, state->literals,
                        MSZIP_LITERAL_TABLE_SIZE, &literalBits))
            return false;
        if (!BuildTable(lengths + literalCount, distanceCount, kDistanceSymbols, kDistanceRootBits, false,
                        state->distances, MSZIP_DISTANCE_TABLE_SIZE, &distanceBits))
            return false;
        return Codes(state->literals, state->distances, ended);
    }

    // Decodes blocks until the last one ends or the output is full;
    // *finished tells whether the stream's last block ended.
    bool Run(bool* finished)
    {
        *finished = false;
        bool lastBlock = false;
        while (!lastBlock && pos < limit) {
            lastBlock = Take(1) != 0;
            uint32_t type = Take(2);
            bool ended = false;
            bool ok;
            if (type == 0) {
                ok = Stored();
                ended = true;
            } else if (type == 1) {
                ok = Codes(state->fixedLiterals, state->fixedDistances, &ended);
            } else if (type == 2) {
                ok = Dynamic(&ended);
            } else {
                ok = false;
            }
            if (!ok) return false;
            if (!ended) return true;  // the output is full
        }
        *finished = lastBlock;
        return true;
    }
};

bool BuildFixedTables(MszipDecompressor* state)
{
    uint8_t lengths[288];
    for (uint32_t i = 0; i < 144; ++i) lengths[i] = 8;
    for (uint32_t i = 144; i < 256; ++i) lengths[i] = 9;
    for (uint32_t i = 256; i < 280; ++i) lengths[i] = 7;
    for (uint32_t i = 280; i < 288; ++i) lengths[i] = 8;
    uint32_t rootBits;
    if (!BuildTable(lengths, 288, kLiteralLengthSymbols, kLiteralRootBits, false, state->fixedLiterals,
                    MSZIP_FIXED_LITERAL_TABLE_SIZE, &rootBits))
        return false;
    // All 32 five-bit distance codes, so that the code is complete; 30 and
    // 31 decode as invalid.
    for (uint32_t i = 0; i < 32; ++i) lengths[i] = 5;
    return BuildTable(lengths, 32, kDistanceSymbols, kDistanceRootBits, false, state->fixedDistances,
                      MSZIP_FIXED_DISTANCE_TABLE_SIZE, &rootBits);
}

}  // namespace

int MszipCreate(uint32_t* windowSize, CabAllocCallback alloc, CabFreeCallback free, uint32_t* inputSize,
                MszipDecompressor** state)
{
    if (*windowSize == 0 || *windowSize > MSZIP_WINDOW_SIZE) *windowSize = MSZIP_WINDOW_SIZE;
    *inputSize = *windowSize + MSZIP_INPUT_SLACK;
    if (!state) return MSZIP_OK;

    *state = nullptr;
    MszipDecompressor* created = static_cast<MszipDecompressor*>(alloc(sizeof(MszipDecompressor)));
    if (!created) return MSZIP_ALLOC_FAILED;
    created->tag = MSZIP_TAG;
    created->free = free;
    created->windowSize = *windowSize;
    created->historyBytes = 0;
    if (!BuildFixedTables(created)) {
        created->tag = 0;
        free(created);
        return MSZIP_ALLOC_FAILED;
    }
    *state = created;
    return MSZIP_OK;
}

int MszipReset(MszipDecompressor* state)
{
    if (!state || state->tag != MSZIP_TAG) return MSZIP_BAD_STATE;
    state->historyBytes = 0;
    return MSZIP_OK;
}

int MszipDecompress(MszipDecompressor* state, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                    uint32_t* outputCount)
{
    if (!state || state->tag != MSZIP_TAG) return MSZIP_BAD_STATE;
    if (inputLength > state->windowSize + MSZIP_INPUT_SLACK) return MSZIP_INPUT_TOO_LONG;
    if (inputLength < 2 || input[0] != 'C' || input[1] != 'K') return MSZIP_DATA_ERROR;

    Inflater inflater;
    inflater.state = state;
    inflater.in = input + 2;
    inflater.inLength = inputLength - 2;
    inflater.inPos = 0;
    inflater.bits = 0;
    inflater.bitCount = 0;
    inflater.out = output;
    inflater.pos = 0;
    inflater.limit = *outputCount < state->windowSize ? *outputCount : state->windowSize;
    inflater.historyUsable = state->historyBytes == state->windowSize;

    bool finished;
    bool ok = inflater.Run(&finished);
    // The window after this block: its output, followed by whatever of the
    // older window it did not cover.
    memcpy(state->history, output, inflater.pos);
    if (inflater.pos > state->historyBytes) state->historyBytes = inflater.pos;
    if (!ok) return MSZIP_DATA_ERROR;
    *outputCount = inflater.pos;
    return MSZIP_OK;
}

int MszipInflateStream(MszipDecompressor* state, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                       uint32_t* outputCount, uint32_t* consumed)
{
    if (!state || state->tag != MSZIP_TAG) return MSZIP_BAD_STATE;
    if (*outputCount == UINT32_MAX) return MSZIP_DATA_ERROR;
    Inflater inflater;
    inflater.state = state;
    inflater.in = input;
    inflater.inLength = inputLength;
    inflater.inPos = 0;
    inflater.bits = 0;
    inflater.bitCount = 0;
    inflater.out = output;
    inflater.pos = 0;
    // The byte after the room: a stream that writes it is longer than
    // the room given.
    inflater.limit = *outputCount + 1;
    inflater.historyUsable = false;
    bool finished;
    if (!inflater.Run(&finished) || !finished || inflater.pos > *outputCount) return MSZIP_DATA_ERROR;
    uint32_t used = inflater.inPos - inflater.bitCount / 8;
    if (used > inputLength) return MSZIP_DATA_ERROR;
    *outputCount = inflater.pos;
    *consumed = used;
    return MSZIP_OK;
}

int MszipDestroy(MszipDecompressor* state)
{
    if (!state || state->tag != MSZIP_TAG) return MSZIP_BAD_STATE;
    state->tag = 0;
    state->free(state);
    return MSZIP_OK;
}
