// Tests of the cabinet decoder on cabinets made by gcab and on cabinets
// built byte by byte for what gcab cannot make: reserve areas, mixed
// folders, unknown methods and versions, checksums, long names, run-after
// attributes and sets of two and three cabinets.
#include <stdio.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "cab_test_support.h"

namespace {

#ifndef CAB_FIXTURE_DIR
#define CAB_FIXTURE_DIR "fixtures"
#endif

bool ReadWholeFile(const std::string& path, Bytes* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    out->clear();
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) out->insert(out->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

std::string ToPath(std::string name)
{
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

// A decoder over a MemoryClient that is destroyed with the test.
struct Decoding {
    MemoryClient client;
    CabErrorRecord error = {0, 0, 0};
    CabDecoder* decoder = nullptr;
    Decoding() { decoder = client.Create(&error); }
    ~Decoding()
    {
        CabDecoderDestroy(decoder);
        EXPECT_EQ(client.liveAllocations, 0);
        EXPECT_EQ(client.openHandles, 0);
    }
};

// One MSZIP folder holding three files over several blocks.
CabinetSpec ThreeFileCabinet(const Bytes& data)
{
    CabinetSpec cab;
    cab.folders.push_back(FolderSpec{1, MszipBlocks(data), -1});
    cab.files = {{"first.txt", 1000, 0, 0}, {"dir\\second.txt", 60000, 1000, 0}, {"third", uint32_t(data.size() - 61000), 61000, 0}};
    return cab;
}

TEST(CabDecoder, GcabCabinetsExtractByteForByte)
{
    const char* const cabinets[] = {"stored.cab", "mszip.cab", "many.cab", "empty_only.cab"};
    for (const char* name : cabinets) {
        SCOPED_TRACE(name);
        Decoding run;
        ASSERT_TRUE(ReadWholeFile(std::string(CAB_FIXTURE_DIR) + "/" + name, &run.client.cabinets[name]));
        ASSERT_TRUE(run.client.Copy(run.decoder, name)) << run.error.code;
        ASSERT_FALSE(run.client.written.empty());
        for (const auto& file : run.client.written) {
            Bytes source;
            ASSERT_TRUE(ReadWholeFile(std::string(CAB_FIXTURE_DIR) + "/payload/" + ToPath(file.first), &source)) << file.first;
            EXPECT_TRUE(source == file.second) << file.first;
        }
        // A single cabinet: the header, then one copy and one close per file.
        std::vector<int> kinds = run.client.Kinds();
        ASSERT_EQ(kinds.size(), 1 + 2 * run.client.written.size());
        EXPECT_EQ(kinds[0], CAB_NOTIFY_CABINET_INFO);
        for (size_t i = 1; i < kinds.size(); ++i) EXPECT_EQ(kinds[i], i % 2 ? CAB_NOTIFY_COPY_FILE : CAB_NOTIFY_CLOSE_FILE_INFO);
        EXPECT_FALSE(run.error.failed);
    }
}

TEST(CabDecoder, IsCabinetReadsOnlyTheHeader)
{
    struct Case {
        const char* name;
        Bytes data;
        bool result;
        int32_t code;
        int32_t detail;
    };
    CabinetSpec good = ThreeFileCabinet(MakeText(70000, 1));
    good.setId = 0x1234;
    good.index = 2;
    good.next = "next.cab";
    CabinetSpec old = good;
    old.version = 0x0102;
    std::vector<Case> cases = {
        {"cabinet", good.Build(), true, 0, 0},
        {"old version", old.Build(), false, CAB_ERR_UNKNOWN_VERSION, 0x0102},
        {"text file", ToBytes("This is not a cabinet, though it is long enough."), false, 0, 0},
        {"short", ToBytes("MSCF"), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoding run;
        run.client.cabinets["x.cab"] = c.data;
        intptr_t h = MemoryClient::Open(const_cast<char*>("x.cab"), 0x8000, 0);
        CabCabinetInfo info = {};
        EXPECT_EQ(CabDecoderIsCabinet(run.decoder, h, &info), c.result);
        MemoryClient::Close(h);
        EXPECT_EQ(run.error.code, c.code);
        EXPECT_EQ(run.error.detail, c.detail);
        if (c.result) {
            EXPECT_EQ(info.cabinetSize, int32_t(c.data.size()));
            EXPECT_EQ(info.folderCount, 1);
            EXPECT_EQ(info.fileCount, 3);
            EXPECT_EQ(info.setId, 0x1234);
            EXPECT_EQ(info.cabinetIndex, 2);
            EXPECT_EQ(info.hasReserve, 0);
            EXPECT_EQ(info.hasPrevious, 0);
            EXPECT_EQ(info.hasNext, 2);
        }
    }
}

// Cabinets that must fail, the error they must give and the files that
// must be complete before the failure.
TEST(CabDecoder, DamagedCabinetsFailWithTheirError)
{
    Bytes text = MakeText(70000, 2);
    struct Case {
        const char* name;
        CabinetSpec cab;
        int32_t code;
        std::vector<std::string> completed;
    };
    std::vector<Case> cases;

    CabinetSpec c = ThreeFileCabinet(text);
    c.version = 0x0102;
    cases.push_back({"version 0x0102", c, CAB_ERR_UNKNOWN_VERSION, {}});

    c = ThreeFileCabinet(text);
    c.folders[0].blocks[1].checksum = DataBlock::kBad;
    cases.push_back({"bad checksum in the second block", c, CAB_ERR_CORRUPT_CABINET, {"first.txt"}});

    c = ThreeFileCabinet(text);
    c.folders.push_back(FolderSpec{3, {DataBlock{ToBytes("lzx data"), 100, DataBlock::kGood}}, -1});
    c.files.push_back(FileSpec{"lzx.bin", 100, 0, 1});
    cases.push_back({"folder of type 3 after an MSZIP folder", c, CAB_ERR_BAD_COMPRESSION_TYPE, {"first.txt", "dir\\second.txt", "third"}});

    c = ThreeFileCabinet(text);
    c.files[1].name = std::string(256, 'n');
    cases.push_back({"name of 256 characters", c, CAB_ERR_CORRUPT_CABINET, {"first.txt"}});

    c = ThreeFileCabinet(text);
    c.files[2].folder = 1;
    cases.push_back({"folder index beyond the folder count", c, CAB_ERR_CORRUPT_CABINET, {"first.txt", "dir\\second.txt"}});

    c = ThreeFileCabinet(text);
    std::swap(c.files[0], c.files[2]);
    cases.push_back({"file listed before an earlier one of its folder", c, CAB_ERR_CORRUPT_CABINET, {"third"}});

    c = ThreeFileCabinet(text);
    c.folders[0].blocks[0].stored[0] = 'X';
    cases.push_back({"MSZIP block without CK", c, CAB_ERR_DECOMPRESS_FAIL, {}});

    c = ThreeFileCabinet(text);
    c.folders[0].blocks[0].uncompressed = 32000;
    cases.push_back({"block declaring fewer bytes than it yields", c, CAB_ERR_DECOMPRESS_FAIL, {}});

    c = ThreeFileCabinet(text);
    c.folders[0].blockCount = 2;
    cases.push_back({"folder ends before the file in a single cabinet", c, CAB_ERR_CORRUPT_CABINET, {"first.txt", "dir\\second.txt"}});

    c = ThreeFileCabinet(text);
    c.files[2].size = 100000;
    cases.push_back({"file larger than its folder", c, CAB_ERR_CORRUPT_CABINET, {"first.txt", "dir\\second.txt"}});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Decoding run;
        run.client.cabinets["bad.cab"] = k.cab.Build();
        EXPECT_FALSE(run.client.Copy(run.decoder, "bad.cab"));
        EXPECT_EQ(run.error.code, k.code);
        EXPECT_EQ(run.error.failed, 1);
        for (const std::string& name : k.completed) {
            auto closed = std::find_if(run.client.events.begin(), run.client.events.end(), [&](const Event& e) {
                return e.kind == CAB_NOTIFY_CLOSE_FILE_INFO && e.text1 == name;
            });
            EXPECT_TRUE(closed != run.client.events.end()) << name;
        }
        size_t closes = size_t(std::count_if(run.client.events.begin(), run.client.events.end(),
                                             [](const Event& e) { return e.kind == CAB_NOTIFY_CLOSE_FILE_INFO; }));
        EXPECT_EQ(closes, k.completed.size());
        // Every handle the client gave is closed again, by it or by the decoder.
        EXPECT_EQ(size_t(run.client.closedOutputs), run.client.outputs.size());
    }
}

TEST(CabDecoder, TruncatedCabinetsNeverSucceed)
{
    Bytes whole = ThreeFileCabinet(MakeText(70000, 3)).Build();
    for (size_t size = 0; size < whole.size(); size += size < 400 ? 1 : 97) {
        Decoding run;
        run.client.cabinets["cut.cab"] = Slice(whole, 0, size);
        EXPECT_FALSE(run.client.Copy(run.decoder, "cut.cab")) << size;
        EXPECT_TRUE(run.error.code == CAB_ERR_CORRUPT_CABINET || run.error.code == CAB_ERR_NOT_A_CABINET ||
                    run.error.code == CAB_ERR_DECOMPRESS_FAIL)
            << size << " gave " << run.error.code;
    }
}

TEST(CabDecoder, AcceptedVariantsExtractEveryFile)
{
    Bytes text = MakeText(70000, 4);
    struct Case {
        const char* name;
        CabinetSpec cab;
    };
    std::vector<Case> cases;

    CabinetSpec c = ThreeFileCabinet(text);
    for (DataBlock& b : c.folders[0].blocks) b.checksum = DataBlock::kNone;
    cases.push_back({"checksums of 0", c});

    c = ThreeFileCabinet(text);
    c.files[1].name = std::string(255, 'n');
    cases.push_back({"name of 255 characters", c});

    c = ThreeFileCabinet(text);
    c.files.push_back(FileSpec{"empty", 0, 70000, 0});
    cases.push_back({"empty file at the end of its folder", c});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Decoding run;
        run.client.cabinets["ok.cab"] = k.cab.Build();
        ASSERT_TRUE(run.client.Copy(run.decoder, "ok.cab")) << run.error.code;
        ASSERT_EQ(run.client.written.size(), k.cab.files.size());
        for (const FileSpec& f : k.cab.files) EXPECT_TRUE(run.client.written[f.name] == Slice(text, f.offset, f.size)) << f.name;
    }
}

TEST(CabDecoder, ReserveAreasAndMixedFoldersReachTheDecryptionHook)
{
    Bytes noise = MakeNoise(40000, 5), text = MakeText(50000, 6);
    CabinetSpec cab;
    cab.reserve = true;
    cab.headerReserve = ToBytes("HEADER-RESERVE");
    cab.folderReserve = 3;
    cab.dataReserve = 2;
    cab.folders.push_back(FolderSpec{0, StoredBlocks(noise), -1});
    cab.folders.push_back(FolderSpec{1, MszipBlocks(text), -1});
    cab.folders.push_back(FolderSpec{0, StoredBlocks(Slice(text, 0, 10)), -1});
    cab.files = {{"noise.bin", 40000, 0, 0}, {"text.txt", 50000, 0, 1}, {"tail.txt", 10, 0, 2}};

    Decoding run;
    run.client.cabinets["r.cab"] = cab.Build();
    ASSERT_TRUE(run.client.Copy(run.decoder, "r.cab", "", true)) << run.error.code;
    EXPECT_TRUE(run.client.written["noise.bin"] == noise);
    EXPECT_TRUE(run.client.written["text.txt"] == text);
    EXPECT_TRUE(run.client.written["tail.txt"] == Slice(text, 0, 10));

    // The hook sees the cabinet, then each folder followed by its blocks.
    std::vector<int> kinds;
    for (const DecryptEvent& e : run.client.decrypts) kinds.push_back(e.kind);
    std::vector<int> expected = {CAB_DECRYPT_NEW_CABINET, CAB_DECRYPT_NEW_FOLDER, CAB_DECRYPT_DATA, CAB_DECRYPT_DATA,
                                 CAB_DECRYPT_NEW_FOLDER,  CAB_DECRYPT_DATA,       CAB_DECRYPT_DATA, CAB_DECRYPT_NEW_FOLDER,
                                 CAB_DECRYPT_DATA};
    EXPECT_EQ(kinds, expected);
    const std::vector<DecryptEvent>& d = run.client.decrypts;
    EXPECT_TRUE(d[0].reserve == ToBytes("HEADER-RESERVE"));
    EXPECT_TRUE(d[1].reserve == Bytes({0xF0, 0xF1, 0xF2}));
    EXPECT_EQ(d[4].folderIndex, 1);
    EXPECT_TRUE(d[2].reserve == Bytes({0xD0, 0xD1}));
    EXPECT_EQ(d[2].dataSize, 32768);
    EXPECT_EQ(d[3].dataSize, 40000 - 32768);
    EXPECT_EQ(d[3].split, 0);
}

TEST(CabDecoder, CloseNotificationReportsRunAfterExtraction)
{
    CabinetSpec cab = ThreeFileCabinet(MakeText(70000, 7));
    cab.files[0].attributes = 0x40 | 0x21;
    Decoding run;
    run.client.cabinets["a.cab"] = cab.Build();
    ASSERT_TRUE(run.client.Copy(run.decoder, "a.cab"));
    std::vector<Event> closes;
    for (const Event& e : run.client.events)
        if (e.kind == CAB_NOTIFY_CLOSE_FILE_INFO) closes.push_back(e);
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[0].size, 1);
    EXPECT_EQ(closes[0].attributes, 0x21);
    EXPECT_EQ(closes[1].size, 0);
    EXPECT_EQ(closes[1].attributes, 0x20);
}

TEST(CabDecoder, ClientAnswersSteerTheCopy)
{
    struct Case {
        const char* name;
        intptr_t copy;
        intptr_t close;
        bool result;
        int32_t code;
    };
    const Case cases[] = {
        {"skip every file", 0, 1, true, 0},
        {"abort at the first file", -1, 1, false, CAB_ERR_USER_ABORT},
        {"abort at the first close", 1, -1, false, CAB_ERR_USER_ABORT},
        {"close fails", 1, 0, false, CAB_ERR_TARGET_FILE},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Decoding run;
        run.client.cabinets["a.cab"] = ThreeFileCabinet(MakeText(70000, 8)).Build();
        intptr_t copy = k.copy, close = k.close;
        run.client.copyAnswer = [copy](const CabNotification&) { return copy; };
        run.client.closeAnswer = [close](const CabNotification&) { return close; };
        EXPECT_EQ(run.client.Copy(run.decoder, "a.cab", "", true), k.result);
        EXPECT_EQ(run.error.code, k.code);
        EXPECT_EQ(size_t(run.client.closedOutputs), run.client.outputs.size());
        if (k.copy == 0) {
            // Nothing accepted: no folder opened, no block read.
            ASSERT_EQ(run.client.decrypts.size(), 1u);
            EXPECT_EQ(run.client.decrypts[0].kind, CAB_DECRYPT_NEW_CABINET);
        }
    }
}

TEST(CabDecoder, SecondCopyOfTheSameMethodAllocatesNothing)
{
    Decoding run;
    run.client.cabinets["a.cab"] = ThreeFileCabinet(MakeText(70000, 9)).Build();
    ASSERT_TRUE(run.client.Copy(run.decoder, "a.cab"));
    int before = run.client.allocations;
    run.client.written.clear();
    ASSERT_TRUE(run.client.Copy(run.decoder, "a.cab"));
    EXPECT_EQ(run.client.allocations, before);
    EXPECT_EQ(run.client.written.size(), 3u);
}

TEST(CabDecoder, OverLongPathsAreRefused)
{
    struct Case {
        std::string path;
        std::string name;
        bool result;
    };
    const Case cases[] = {
        {std::string(257, 'p'), "a", false},
        {std::string(256, 'p'), "a", true},
        {std::string(200, 'p'), std::string(58, 'n'), false},
        {std::string(200, 'p'), std::string(57, 'n'), true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.path.size() + k.name.size());
        Decoding run;
        run.client.cabinets[k.path + k.name] = ThreeFileCabinet(MakeText(70000, 10)).Build();
        EXPECT_EQ(run.client.Copy(run.decoder, k.name.c_str(), k.path.c_str()), k.result);
        if (!k.result) {
            EXPECT_EQ(run.error.code, CAB_ERR_CABINET_NOT_FOUND);
        }
    }
}

// A set of two: the second block of the first folder is split across the
// cabinets and "two" runs on from the first cabinet into the second, which
// also holds a folder of its own.
struct TwoCabinetSet {
    Bytes text = MakeText(60000, 11);
    Bytes other = MakeText(40000, 21);
    CabinetSpec first, second;
    TwoCabinetSet()
    {
        std::vector<DataBlock> blocks = MszipBlocks(text);
        DataBlock head = blocks[1], tail = blocks[1];
        size_t cut = blocks[1].stored.size() / 2;
        head.stored.resize(cut);
        head.uncompressed = 0;
        tail.stored.erase(tail.stored.begin(), tail.stored.begin() + long(cut));
        first.setId = second.setId = 77;
        first.index = 0;
        second.index = 1;
        first.next = "set2.cab";
        second.previous = "set1.cab";
        first.folders.push_back(FolderSpec{1, {blocks[0], head}, -1});
        second.folders.push_back(FolderSpec{1, {tail}, -1});
        second.folders.push_back(FolderSpec{1, MszipBlocks(other), -1});
        first.files = {{"one", 20000, 0, 0}, {"two", 40000, 20000, 0xFFFE}};
        second.files = {{"two", 40000, 20000, 0xFFFD}, {"three", 40000, 0, 1}};
    }
};

TEST(CabDecoder, SetOfTwoWithSplitBlockAndContinuedFile)
{
    TwoCabinetSet set;
    Decoding run;
    run.client.cabinets["set1.cab"] = set.first.Build();
    run.client.cabinets["set2.cab"] = set.second.Build();
    ASSERT_TRUE(run.client.Copy(run.decoder, "set1.cab", "", true)) << run.error.code;
    EXPECT_TRUE(run.client.written["one"] == Slice(set.text, 0, 20000));
    EXPECT_TRUE(run.client.written["two"] == Slice(set.text, 20000, 40000));
    // After crossing, files that do not run on from the first cabinet wait
    // for a copy of the second.
    EXPECT_EQ(run.client.written.count("three"), 0u);
    std::vector<int> expected = {CAB_NOTIFY_CABINET_INFO, CAB_NOTIFY_COPY_FILE,  CAB_NOTIFY_CLOSE_FILE_INFO,
                                 CAB_NOTIFY_COPY_FILE,    CAB_NOTIFY_NEXT_CABINET, CAB_NOTIFY_CABINET_INFO,
                                 CAB_NOTIFY_CLOSE_FILE_INFO};
    EXPECT_EQ(run.client.Kinds(), expected);
    const Event& next = run.client.events[4];
    EXPECT_EQ(next.text1, "set2.cab");
    EXPECT_EQ(next.setId, 77);
    EXPECT_EQ(next.cabinetIndex, 1);
    EXPECT_EQ(next.errorCode, 0);

    // The split block reaches the hook as two pieces.
    std::vector<DecryptEvent> pieces;
    for (const DecryptEvent& e : run.client.decrypts)
        if (e.kind == CAB_DECRYPT_DATA && e.split) pieces.push_back(e);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].partialSize, 0);
    EXPECT_EQ(pieces[1].partialSize, pieces[0].dataSize);
    EXPECT_GT(pieces[1].dataSize, pieces[0].dataSize);

    // The rest of the set comes from a copy of the second cabinet.
    run.client.events.clear();
    ASSERT_TRUE(run.client.Copy(run.decoder, "set2.cab")) << run.error.code;
    EXPECT_TRUE(run.client.written["three"] == set.other);
    EXPECT_EQ(run.client.events[1].kind, CAB_NOTIFY_PARTIAL_FILE);
    EXPECT_EQ(run.client.events[1].text1, "two");
}

TEST(CabDecoder, SetOfThreeCarriesOneFileThroughAll)
{
    Bytes text = MakeText(100000, 12);
    std::vector<DataBlock> blocks = MszipBlocks(text);
    CabinetSpec c[3];
    const char* names[3] = {"set1.cab", "set2.cab", "set3.cab"};
    for (int i = 0; i < 3; ++i) {
        c[i].setId = 9;
        c[i].index = uint16_t(i);
        if (i > 0) c[i].previous = names[i - 1];
        if (i < 2) c[i].next = names[i + 1];
    }
    c[0].folders.push_back(FolderSpec{1, {blocks[0]}, -1});
    c[1].folders.push_back(FolderSpec{1, {blocks[1]}, -1});
    c[2].folders.push_back(FolderSpec{1, {blocks[2], blocks[3]}, -1});
    // "skipped" runs into the second cabinet, "big" through all three.
    c[0].files = {{"skipped", 1000, 32000, 0xFFFE}, {"big", 66000, 33000, 0xFFFE}};
    c[1].files = {{"skipped", 1000, 32000, 0xFFFD}, {"big", 66000, 33000, 0xFFFF}};
    c[2].files = {{"big", 66000, 33000, 0xFFFD}, {"last", 1000, 99000, 0}};

    Decoding run;
    for (int i = 0; i < 3; ++i) run.client.cabinets[names[i]] = c[i].Build();
    run.client.copyAnswer = [](const CabNotification& n) { return intptr_t(strcmp(n.text1, "skipped") != 0); };
    ASSERT_TRUE(run.client.Copy(run.decoder, "set1.cab")) << run.error.code;
    EXPECT_TRUE(run.client.written["big"] == Slice(text, 33000, 66000));
    EXPECT_EQ(run.client.written.count("skipped"), 0u);
    int nexts = 0;
    for (const Event& e : run.client.events) nexts += e.kind == CAB_NOTIFY_NEXT_CABINET;
    EXPECT_EQ(nexts, 2);
}

TEST(CabDecoder, NextCabinetLoopAsksUntilTheClientGivesUp)
{
    struct Case {
        const char* name;
        bool provideSecond;
        uint16_t secondSetId;
        std::string path;
        std::string nextName;
        int32_t errorSeen;
    };
    const Case cases[] = {
        {"missing next cabinet", false, 77, "", "set2.cab", CAB_ERR_CABINET_NOT_FOUND},
        {"next cabinet of another set", true, 78, "", "set2.cab", CAB_ERR_WRONG_CABINET},
        {"next name too long beside the path", true, 77, std::string(200, 'p'), std::string(58, 'n'), CAB_ERR_CABINET_NOT_FOUND},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TwoCabinetSet set;
        set.second.setId = k.secondSetId;
        set.first.next = k.nextName;
        Decoding run;
        run.client.cabinets[k.path + "set1.cab"] = set.first.Build();
        if (k.provideSecond) run.client.cabinets[k.path + k.nextName] = set.second.Build();
        EXPECT_FALSE(run.client.Copy(run.decoder, "set1.cab", k.path.c_str()));
        EXPECT_EQ(run.error.code, CAB_ERR_USER_ABORT);
        std::vector<Event> asks;
        for (const Event& e : run.client.events)
            if (e.kind == CAB_NOTIFY_NEXT_CABINET) asks.push_back(e);
        ASSERT_EQ(asks.size(), 2u);
        EXPECT_EQ(asks[0].errorCode, 0);
        EXPECT_EQ(asks[1].errorCode, k.errorSeen);
        EXPECT_TRUE(run.client.written["one"] == Slice(set.text, 0, 20000));
        EXPECT_EQ(size_t(run.client.closedOutputs), run.client.outputs.size());
    }
}

TEST(CabDecoder, ClientMayPointTheNextCabinetElsewhere)
{
    TwoCabinetSet set;
    Decoding run;
    run.client.cabinets["set1.cab"] = set.first.Build();
    run.client.cabinets["disk2/set2.cab"] = set.second.Build();
    run.client.nextAnswer = [](const CabNotification& n) {
        if (n.errorCode == 0) return intptr_t(0);
        if (strcmp(n.text3, "disk2/") == 0) return intptr_t(-1);
        strcpy(n.text3, "disk2/");
        return intptr_t(0);
    };
    ASSERT_TRUE(run.client.Copy(run.decoder, "set1.cab")) << run.error.code;
    EXPECT_TRUE(run.client.written["two"] == Slice(set.text, 20000, 40000));
}

TEST(CabDecoder, ReserveSizesMustMatchAcrossASet)
{
    TwoCabinetSet set;
    set.second.reserve = true;
    set.second.dataReserve = 4;
    Decoding run;
    run.client.cabinets["set1.cab"] = set.first.Build();
    run.client.cabinets["set2.cab"] = set.second.Build();
    run.client.nextAnswer = [](const CabNotification& n) { return n.errorCode == CAB_ERR_RESERVE_MISMATCH ? intptr_t(-1) : intptr_t(0); };
    EXPECT_FALSE(run.client.Copy(run.decoder, "set1.cab"));
    EXPECT_EQ(run.client.events.back().errorCode, CAB_ERR_RESERVE_MISMATCH);
}

// The whole-image check that the setup runs over its payload before its
// first page: every damage a download can suffer is caught without
// decoding, and a sound cabinet (gcab's or hand-made, with reserves) passes.
TEST(CabCheckImage, CatchesDamageAnywhereWithoutDecoding)
{
    Bytes text = MakeText(100000, 7);
    CabinetSpec sound = ThreeFileCabinet(text);
    Bytes good = sound.Build();
    size_t lastBlock = good.size() - sound.folders[0].blocks.back().stored.size();

    CabinetSpec reserved = sound;
    reserved.reserve = true;
    reserved.headerReserve = Bytes(5, 0xAA);
    reserved.folderReserve = 3;
    reserved.dataReserve = 2;
    CabinetSpec unchecked = sound;
    for (DataBlock& b : unchecked.folders[0].blocks) b.checksum = DataBlock::kNone;
    CabinetSpec badSum = sound;
    badSum.folders[0].blocks[1].checksum = DataBlock::kBad;
    CabinetSpec pastFolder = sound;
    pastFolder.files[2].size += 1;
    CabinetSpec inASet = sound;
    inASet.next = "next.cab";
    CabinetSpec storedMismatch;
    storedMismatch.folders.push_back(FolderSpec{0, StoredBlocks(Slice(text, 0, 1000)), -1});
    storedMismatch.folders[0].blocks[0].uncompressed = 999;
    storedMismatch.files = {{"a", 999, 0, 0}};
    CabinetSpec noFraming;
    noFraming.folders.push_back(FolderSpec{1, StoredBlocks(Slice(text, 0, 1000)), -1});
    noFraming.files = {{"a", 1000, 0, 0}};

    Bytes flipped = good;
    flipped[lastBlock + 10] ^= 0x40;
    Bytes flippedUnchecked = unchecked.Build();
    flippedUnchecked[flippedUnchecked.size() - 10] ^= 0x40;
    Bytes cut = Slice(good, 0, good.size() - 1);
    Bytes padded = good;
    padded.push_back(0);
    Bytes gcab;
    ASSERT_TRUE(ReadWholeFile(std::string(CAB_FIXTURE_DIR) + "/mszip.cab", &gcab));
    Bytes gcabFlipped = gcab;
    gcabFlipped[gcab.size() / 2] ^= 1;

    struct Case {
        const char* what;
        Bytes image;
        CabCheckResult expected;
    } cases[] = {
        {"sound", good, CAB_CHECK_OK},
        {"sound with reserves", reserved.Build(), CAB_CHECK_OK},
        {"gcab", gcab, CAB_CHECK_OK},
        {"without checksums, one byte changed", flippedUnchecked, CAB_CHECK_OK},
        {"one byte changed in a block", flipped, CAB_CHECK_BAD_CHECKSUM},
        {"one byte changed in gcab's", gcabFlipped, CAB_CHECK_BAD_CHECKSUM},
        {"stored checksum wrong", badSum.Build(), CAB_CHECK_BAD_CHECKSUM},
        {"cut short by one byte", cut, CAB_CHECK_TRUNCATED},
        {"one byte too long", padded, CAB_CHECK_TRUNCATED},
        {"header only", Slice(good, 0, 36), CAB_CHECK_TRUNCATED},
        {"not a cabinet", ToBytes("MSCX and some more bytes to fill a header up"), CAB_CHECK_NOT_A_CABINET},
        {"file runs past its folder", pastFolder.Build(), CAB_CHECK_BAD_TABLE},
        {"names a next cabinet", inASet.Build(), CAB_CHECK_BAD_TABLE},
        {"stored block sizes differ", storedMismatch.Build(), CAB_CHECK_BAD_BLOCK},
        {"MSZIP block without CK", noFraming.Build(), CAB_CHECK_BAD_BLOCK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CabCheckImage(c.image.data(), uint32_t(c.image.size()))) << c.what;
}

}  // namespace
