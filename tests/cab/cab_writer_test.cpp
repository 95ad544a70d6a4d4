// Tests of the cabinet writer: what it writes, the project's own decoder
// extracts byte for byte (text, noise that must be stored, files across
// block boundaries, empty files, no files at all); the bytes do not depend
// on the number of threads; each block has the previous one as history;
// names and read failures are refused.
#include <gtest/gtest.h>

#include "cab/cab_writer.h"
#include "tests/cab/cab_test_support.h"

namespace {

struct Source {
    Bytes data;
    size_t at = 0;
    bool fail = false;
};

bool ReadSource(void* user, uint8_t* buffer, uint32_t count)
{
    Source* s = static_cast<Source*>(user);
    if (s->fail || s->at + count > s->data.size()) return false;
    memcpy(buffer, s->data.data() + s->at, count);
    s->at += count;
    return true;
}

CabWriterResult Write(const std::vector<std::pair<std::string, Bytes>>& files, unsigned threads, Bytes* cabinet)
{
    std::vector<CabWriterEntry> entries;
    Source source;
    for (const auto& f : files) {
        entries.push_back({f.first, uint32_t(f.second.size()), 0x5988, uint16_t(0x6000 + entries.size()), 0x21});
        source.data.insert(source.data.end(), f.second.begin(), f.second.end());
    }
    return WriteCabinet(entries, ReadSource, &source, 6, threads, cabinet);
}

// Stored sizes of the cabinet's data blocks, from its folder entry on.
std::vector<uint32_t> StoredSizes(const Bytes& cab)
{
    std::vector<uint32_t> sizes;
    size_t at = cab[36] | (cab[37] << 8) | (cab[38] << 16) | (size_t(cab[39]) << 24);
    for (int i = 0, n = cab[40] | (cab[41] << 8); i < n; ++i) {
        uint32_t stored = cab[at + 4] | (cab[at + 5] << 8);
        sizes.push_back(stored);
        at += 8 + stored;
    }
    return sizes;
}

TEST(CabWriter, DecoderExtractsEveryFileWhateverTheThreads)
{
    const struct {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> files;
    } cases[] = {
        {"text across blocks", {{"a.txt", MakeText(1000, 1)}, {"dir\\b.txt", MakeText(70000, 2)}, {"c", MakeText(9, 3)}}},
        {"noise, stored", {{"noise.bin", MakeNoise(100000, 4)}}},
        {"whole blocks and empty files", {{"empty", {}}, {"two.bin", MakeText(65536, 5)}, {"deep\\er\\empty", {}}}},
        {"no files", {}},
        {"many batches in flight", {{"text.txt", MakeText(3000000, 6)}, {"noise.bin", MakeNoise(700000, 7)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes one, three;
        ASSERT_EQ(CAB_WRITER_OK, Write(c.files, 1, &one));
        ASSERT_EQ(CAB_WRITER_OK, Write(c.files, 3, &three));
        EXPECT_EQ(one, three);
        for (uint32_t stored : StoredSizes(one)) EXPECT_LE(stored, uint32_t(CAB_WRITER_MAX_STORED));

        MemoryClient client;
        CabErrorRecord error = {0, 0, 0};
        CabDecoder* decoder = client.Create(&error);
        client.cabinets["w.cab"] = one;
        EXPECT_TRUE(client.Copy(decoder, "w.cab")) << error.code;
        CabDecoderDestroy(decoder);
        EXPECT_EQ(c.files.size(), client.written.size());
        for (const auto& f : c.files) EXPECT_EQ(f.second, client.written[f.first]) << f.first;
        for (const Event& e : client.events) {
            if (e.kind == CAB_NOTIFY_CLOSE_FILE_INFO) {
                EXPECT_EQ(0x21, e.attributes);
            }
        }
    }
}

TEST(CabWriter, EachBlockHasThePreviousOneAsHistory)
{
    // The second block repeats the first one's second half twice: with the
    // first as its dictionary it shrinks to a few back-references.
    Bytes noise = MakeNoise(32768, 9);
    Bytes twice = noise;
    for (int i = 0; i < 2; ++i) twice.insert(twice.end(), noise.begin() + 16384, noise.end());
    Bytes cab;
    ASSERT_EQ(CAB_WRITER_OK, Write({{"twice", twice}}, 2, &cab));
    std::vector<uint32_t> sizes = StoredSizes(cab);
    ASSERT_EQ(2u, sizes.size());
    EXPECT_GT(sizes[0], 32768u);
    EXPECT_LT(sizes[1], 1000u);
}

TEST(CabWriter, RefusesNamesAndReadFailures)
{
    Bytes cab;
    for (const char* name : {"", "a/b", "caf\xC3\xA9", "tab\there"})
        EXPECT_EQ(CAB_WRITER_BAD_NAME, Write({{name, MakeText(10, 1)}}, 1, &cab)) << name;
    EXPECT_EQ(CAB_WRITER_BAD_NAME, Write({{std::string(256, 'n'), {}}}, 1, &cab));
    EXPECT_EQ(CAB_WRITER_OK, Write({{std::string(255, 'n'), {}}}, 1, &cab));

    std::vector<CabWriterEntry> entries = {{"a", 100000, 0, 0, 0x20}};
    Source failing;
    failing.data = MakeText(100000, 2);
    failing.fail = true;
    EXPECT_EQ(CAB_WRITER_READ_FAILED, WriteCabinet(entries, ReadSource, &failing, 6, 2, &cab));
    EXPECT_TRUE(cab.empty());
}

}  // namespace
