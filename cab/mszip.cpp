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
//   bits 0-7    bits to drop from the bit buffer (for a link: the root width)
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
            return (uint32_t(kLengthBase[i]) << 16) | (uint32_t(kLengthExtra[i]) << 12) | length;
        }
        return kInvalid | length;  // 286 and 287 exist only in the fixed code
    case kDistanceSymbols:
        if (symbol < 30) return (uint32_t(kDistanceBase[symbol]) << 16) | (uint32_t(kDistanceExtra[symbol]) << 12) | length;
        return kInvalid | length;  // 30 and 31 exist only in the fixed code
    case kCodeLengthSymbols:
        break;
    }
    return (symbol << 16) | length;
}

uint32_t ReverseBits(uint32_t code, uint32_t length)
{
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

// Builds a canonical Huffman decoding table from code lengths. Refuses an
// over-subscribed set, and an incomplete one unless it is a single one-bit
// code; all-zero lengths give a table whose every entry is invalid.
bool BuildTable(const uint8_t* lengths, uint32_t count, SymbolKind kind, uint32_t rootLimit, uint32_t* table,
                uint32_t capacity, uint32_t* rootBits)
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
        table[0] = table[1] = kInvalid | 1;
        *rootBits = 1;
        return true;
    }

    int32_t left = 1;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - int32_t(counts[len]);
        if (left < 0) return false;
    }
    if (left > 0 && longest != 1) return false;

    uint32_t root = rootLimit;
    if (root > longest) root = longest;
    if (root < shortest) root = shortest;
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
        codes[at] = uint16_t(nextCode[len]++);
    }

    for (uint32_t i = 0; i < rootSize; ++i) table[i] = kInvalid | root;

    uint32_t next = rootSize;  // first free entry for subtables
    uint32_t currentPrefix = 0xFFFFFFFF, subStart = 0, subBits = 0;
    for (uint32_t i = 0; i < used; ++i) {
        uint32_t symbol = sorted[i], len = lengths[symbol];
        uint32_t reversed = ReverseBits(codes[i], len);
        uint32_t entry = MakeEntry(kind, symbol, len);
        if (len <= root) {
            for (uint32_t at = reversed; at < rootSize; at += 1u << len) table[at] = entry;
            continue;
        }
        uint32_t prefix = reversed & (rootSize - 1);
        if (prefix != currentPrefix) {
            // Codes sharing a prefix are consecutive in canonical order, and
            // the last of them is the longest.
            uint32_t longestHere = len;
            for (uint32_t j = i + 1; j < used; ++j) {
                uint32_t lenJ = lengths[sorted[j]];
                if ((ReverseBits(codes[j], lenJ) & (rootSize - 1)) != prefix) break;
                longestHere = lenJ;
            }
            currentPrefix = prefix;
            subStart = next;
            subBits = longestHere - root;
            uint32_t subSize = 1u << subBits;
            if (subStart + subSize > capacity || subStart > 0xFFFF) return false;
            for (uint32_t at = 0; at < subSize; ++at) table[subStart + at] = kInvalid | longestHere;
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
    if (entry & kLink) {
        uint32_t sub = (uint32_t(bits) >> (entry & 0xFF)) & ((1u << ((entry >> 12) & 0xF)) - 1);
        entry = table[(entry >> 16) + sub];
    }
    return entry;
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

// Copies a match whose source lies inside the current block: the source is
// dist bytes behind the destination, so overlapping runs repeat themselves.
inline void CopyWithinBlock(uint8_t* dst, uint32_t dist, uint32_t len)
{
    const uint8_t* src = dst - dist;
    if (dist >= 8) {
        while (len >= 8) {
            uint64_t chunk;
            memcpy(&chunk, src, 8);
            memcpy(dst, &chunk, 8);
            src += 8;
            dst += 8;
            len -= 8;
        }
    } else if (dist == 1) {
        memset(dst, *src, len);
        return;
    }
    while (len--) *dst++ = *src++;
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

    uint32_t Decode(const uint32_t* table, uint32_t mask)
    {
        if (bitCount < kMaxCodeLength) Refill();
        uint32_t entry = Lookup(table, mask, bits);
        bits >>= entry & 0xFF;
        bitCount -= entry & 0xFF;
        return entry;
    }

    // A match whose source may reach into the previous block's output,
    // which is still held at the end of the buffer. False when it reaches
    // further back than decoded history.
    bool CopyMatch(uint32_t dist, uint32_t len)
    {
        if (dist <= pos) {
            CopyWithinBlock(out + pos, dist, len);
            pos += len;
            return true;
        }
        uint32_t window = state->windowSize;
        if (!historyUsable || dist > window) return false;
        uint32_t src = pos + window - dist;  // at or after pos
        uint32_t first = window - src;
        if (first > len) first = len;
        memmove(out + pos, out + src, first);
        pos += first;
        len -= first;
        if (len) {
            // The source has wrapped to the start of the buffer, dist bytes
            // behind the destination.
            CopyWithinBlock(out + pos, dist, len);
            pos += len;
        }
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
    bool Codes(const uint32_t* literals, uint32_t literalBits, const uint32_t* distances, uint32_t distanceBits,
               bool* ended)
    {
        const uint32_t literalMask = (1u << literalBits) - 1;
        const uint32_t distanceMask = (1u << distanceBits) - 1;

        // Fast loop: one refill gives at least 56 bits, enough for a
        // literal/length code with its extra bits and a distance code with
        // its extra bits (15 + 5 + 15 + 13), and a whole match fits below
        // the output limit.
        if (limit >= kLongestMatch && inLength >= 8) {
            uint64_t b = bits;
            uint32_t n = bitCount, ip = inPos, op = pos;
            const uint32_t inFastEnd = inLength - 8;
            const uint32_t outFastEnd = limit - kLongestMatch;
            const uint8_t* src = in;
            uint8_t* dst = out;
            while (ip <= inFastEnd && op <= outFastEnd) {
                b |= LoadLittleEndian64(src + ip) << n;
                ip += (63 - n) >> 3;
                n |= 56;

                uint32_t entry = Lookup(literals, literalMask, b);
                b >>= entry & 0xFF;
                n -= entry & 0xFF;
                if (entry & kLiteral) {
                    dst[op++] = uint8_t(entry >> 16);
                    // A second literal often fits in the bits at hand.
                    if (n >= kMaxCodeLength) {
                        entry = Lookup(literals, literalMask, b);
                        if (entry & kLiteral) {
                            b >>= entry & 0xFF;
                            n -= entry & 0xFF;
                            dst[op++] = uint8_t(entry >> 16);
                        }
                    }
                    continue;
                }
                if (entry & (kEndOfBlock | kInvalid)) {
                    bits = b;
                    bitCount = n;
                    inPos = ip;
                    pos = op;
                    if (entry & kInvalid) return false;
                    *ended = true;
                    return true;
                }
                uint32_t extra = (entry >> 12) & 0xF;
                uint32_t length = (entry >> 16) + (uint32_t(b) & ((1u << extra) - 1));
                b >>= extra;
                n -= extra;

                entry = Lookup(distances, distanceMask, b);
                b >>= entry & 0xFF;
                n -= entry & 0xFF;
                if (entry & (kInvalid | kEndOfBlock | kLiteral)) {
                    bits = b;
                    bitCount = n;
                    inPos = ip;
                    pos = op;
                    return false;
                }
                extra = (entry >> 12) & 0xF;
                uint32_t dist = (entry >> 16) + (uint32_t(b) & ((1u << extra) - 1));
                b >>= extra;
                n -= extra;

                if (dist <= op) {
                    CopyWithinBlock(dst + op, dist, length);
                    op += length;
                } else {
                    pos = op;
                    if (!CopyMatch(dist, length)) {
                        bits = b;
                        bitCount = n;
                        inPos = ip;
                        return false;
                    }
                    op = pos;
                }
            }
            bits = b;
            bitCount = n;
            inPos = ip;
            pos = op;
        }

        // Careful loop near the ends of input and output.
        for (;;) {
            if (pos == limit) return true;
            uint32_t entry = Decode(literals, literalMask);
            if (entry & kLiteral) {
                out[pos++] = uint8_t(entry >> 16);
                continue;
            }
            if (entry & kInvalid) return false;
            if (entry & kEndOfBlock) {
                *ended = true;
                return true;
            }
            uint32_t length = (entry >> 16) + Take((entry >> 12) & 0xF);
            entry = Decode(distances, distanceMask);
            if (entry & (kInvalid | kEndOfBlock | kLiteral)) return false;
            uint32_t dist = (entry >> 16) + Take((entry >> 12) & 0xF);
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
        if (!BuildTable(codeLengthLengths, 19, kCodeLengthSymbols, kCodeLengthRootBits, state->codeLengths,
                        MSZIP_CODE_LENGTH_TABLE_SIZE, &codeLengthBits))
            return false;
        const uint32_t codeLengthMask = (1u << codeLengthBits) - 1;

        uint32_t total = literalCount + distanceCount;
        for (uint32_t i = 0; i < total;) {
            uint32_t entry = Decode(state->codeLengths, codeLengthMask);
            if (entry & kInvalid) return false;
            uint32_t symbol = entry >> 16;
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
        if (!BuildTable(lengths, literalCount, kLiteralLengthSymbols, kLiteralRootBits, state->literals,
                        MSZIP_LITERAL_TABLE_SIZE, &literalBits))
            return false;
        if (!BuildTable(lengths + literalCount, distanceCount, kDistanceSymbols, kDistanceRootBits, state->distances,
                        MSZIP_DISTANCE_TABLE_SIZE, &distanceBits))
            return false;
        return Codes(state->literals, literalBits, state->distances, distanceBits, ended);
    }

    bool Run()
    {
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
                ok = Codes(state->fixedLiterals, state->fixedLiteralBits, state->fixedDistances,
                           state->fixedDistanceBits, &ended);
            } else if (type == 2) {
                ok = Dynamic(&ended);
            } else {
                ok = false;
            }
            if (!ok) return false;
            if (!ended) return true;  // the output is full
        }
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
    if (!BuildTable(lengths, 288, kLiteralLengthSymbols, kLiteralRootBits, state->fixedLiterals,
                    MSZIP_FIXED_LITERAL_TABLE_SIZE, &state->fixedLiteralBits))
        return false;
    // All 32 five-bit distance codes, so that the code is complete; 30 and
    // 31 decode as invalid.
    for (uint32_t i = 0; i < 32; ++i) lengths[i] = 5;
    return BuildTable(lengths, 32, kDistanceSymbols, kDistanceRootBits, state->fixedDistances,
                      MSZIP_FIXED_DISTANCE_TABLE_SIZE, &state->fixedDistanceBits);
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
    inflater.historyUsable = state->historyBytes == state->windowSize && *outputCount >= state->windowSize;

    bool ok = inflater.Run();
    if (inflater.pos > state->historyBytes) state->historyBytes = inflater.pos;
    if (!ok) return MSZIP_DATA_ERROR;
    *outputCount = inflater.pos;
    return MSZIP_OK;
}

int MszipDestroy(MszipDecompressor* state)
{
    if (!state || state->tag != MSZIP_TAG) return MSZIP_BAD_STATE;
    state->tag = 0;
    state->free(state);
    return MSZIP_OK;
}
