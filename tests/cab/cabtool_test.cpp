// Runs the built cabtool as a user would, on gcab-made cabinets and on
// cabinets and sets built here, and checks its output, exit codes, the
// files it writes and the ones it must refuse to write.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "cab_test_support.h"

namespace {

std::string ReadText(const std::string& path)
{
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) text.append(chunk, n);
    fclose(f);
    return text;
}

void WriteBytes(const std::string& path, const Bytes& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != nullptr) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A scratch folder for one test, removed afterwards.
struct Scratch {
    std::string dir;
    Scratch()
    {
        char pattern[] = "/tmp/cabtool-test-XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Scratch() { system(("rm -rf '" + dir + "'").c_str()); }
};

struct Result {
    int exitCode;
    std::string out, err;
};

Result RunCabtool(const Scratch& s, const std::string& args)
{
    std::string command = std::string("'") + CABTOOL_PATH + "' " + args + " >'" + s.dir + "/stdout' 2>'" + s.dir + "/stderr'";
    int status = system(command.c_str());
    Result r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(s.dir + "/stdout"), ReadText(s.dir + "/stderr")};
    return r;
}

CabinetSpec SmallCabinet(const Bytes& data)
{
    CabinetSpec cab;
    cab.folders.push_back(FolderSpec{1, MszipBlocks(data), -1});
    cab.files = {{"first.txt", 1000, 0, 0, 0x21}, {"dir\\sub\\second.txt", 39000, 1000, 0, 0x20, 0x4A21, 0x8C5F}};
    return cab;
}

const std::string kFixtures = CAB_FIXTURE_DIR;

TEST(Cabtool, ListPrintsOneLinePerEntry)
{
    Scratch s;
    WriteBytes(s.dir + "/small.cab", SmallCabinet(MakeText(40000, 1)).Build());
    Result r = RunCabtool(s, "list " + s.dir + "/small.cab");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "1000 2024-12-08 12:00:00 0021 first.txt\n"
              "39000 2017-01-01 17:34:62 0020 dir\\sub\\second.txt\n");

    r = RunCabtool(s, "list " + kFixtures + "/mszip.cab");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("1275594 "), std::string::npos);
    EXPECT_NE(r.out.find(" 0020 docs\\licence.txt\n"), std::string::npos);
    EXPECT_NE(r.out.find("0 "), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
}

TEST(Cabtool, ExtractAndTestDecodeGcabCabinets)
{
    const char* const cabinets[] = {"stored.cab", "mszip.cab", "many.cab"};
    for (const char* name : cabinets) {
        SCOPED_TRACE(name);
        Scratch s;
        Result r = RunCabtool(s, "extract " + kFixtures + "/" + name + " " + s.dir + "/out");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        // Every file extracted is the source file, byte for byte.
        Result listing = RunCabtool(s, "list " + kFixtures + "/" + name);
        size_t lines = 0;
        for (size_t at = 0; at < listing.out.size();) {
            size_t end = listing.out.find('\n', at);
            std::string line = listing.out.substr(at, end - at);
            std::string entry = line.substr(line.find(' ', line.find(' ', line.find(' ', line.find(' ') + 1) + 1) + 1) + 1);
            for (char& c : entry)
                if (c == '\\') c = '/';
            EXPECT_TRUE(ReadText(s.dir + "/out/" + entry) == ReadText(kFixtures + "/payload/" + entry)) << entry;
            EXPECT_TRUE(Exists(s.dir + "/out/" + entry)) << entry;
            at = end + 1;
            ++lines;
        }
        EXPECT_GT(lines, 0u);
        r = RunCabtool(s, std::string("test ") + kFixtures + "/" + name);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
}

TEST(Cabtool, ExtractStampsLocalTimeAndMakesFolders)
{
    Scratch s;
    Bytes data = MakeText(40000, 2);
    WriteBytes(s.dir + "/small.cab", SmallCabinet(data).Build());
    Result r = RunCabtool(s, "extract " + s.dir + "/small.cab " + s.dir + "/new/target");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadText(s.dir + "/new/target/dir/sub/second.txt") == std::string(data.begin() + 1000, data.end()));
    struct tm local = {};
    local.tm_year = 124;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    struct stat info;
    ASSERT_EQ(stat((s.dir + "/new/target/first.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, mktime(&local));
}

TEST(Cabtool, ExtractFollowsASetOfCabinets)
{
    Scratch s;
    Bytes text = MakeText(60000, 3), other = MakeText(5000, 4);
    std::vector<DataBlock> blocks = MszipBlocks(text);
    CabinetSpec first, second;
    first.setId = second.setId = 5;
    second.index = 1;
    first.next = "part2.cab";
    second.previous = "part1.cab";
    first.folders.push_back(FolderSpec{1, {blocks[0]}, -1});
    second.folders.push_back(FolderSpec{1, {blocks[1]}, -1});
    second.folders.push_back(FolderSpec{0, StoredBlocks(other), -1});
    first.files = {{"a", 10000, 0, 0}, {"b", 50000, 10000, 0xFFFE}};
    second.files = {{"b", 50000, 10000, 0xFFFD}, {"c", 5000, 0, 1}};
    WriteBytes(s.dir + "/part1.cab", first.Build());
    WriteBytes(s.dir + "/part2.cab", second.Build());
    Result r = RunCabtool(s, "extract " + s.dir + "/part1.cab " + s.dir + "/out");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadText(s.dir + "/out/b") == std::string(text.begin() + 10000, text.end()));
    EXPECT_TRUE(ReadText(s.dir + "/out/c") == std::string(other.begin(), other.end()));
    EXPECT_EQ(ReadText(s.dir + "/out/a").size(), 10000u);

    // Without its second cabinet the set fails once, with a clear line.
    unlink((s.dir + "/part2.cab").c_str());
    r = RunCabtool(s, "test " + s.dir + "/part1.cab");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("CAB_ERR_CABINET_NOT_FOUND"), std::string::npos) << r.err;
}

TEST(Cabtool, FailuresExitOneWithTheErrorName)
{
    Bytes data = MakeText(40000, 5);
    CabinetSpec bad = SmallCabinet(data);
    bad.folders[0].blocks[0].checksum = DataBlock::kBad;
    CabinetSpec old = SmallCabinet(data);
    old.version = 0x0102;
    struct Case {
        const char* name;
        Bytes cabinet;
        const char* command;
        int exitCode;
        const char* expected;
    };
    const Case cases[] = {
        {"not a cabinet", ToBytes("plain text, not a cabinet at all......................"), "test", 1, "CAB_ERR_NOT_A_CABINET"},
        {"bad checksum", bad.Build(), "test", 1, "CAB_ERR_CORRUPT_CABINET"},
        {"bad checksum while extracting", bad.Build(), "extract", 1, "CAB_ERR_CORRUPT_CABINET"},
        {"old version", old.Build(), "list", 1, "CAB_ERR_UNKNOWN_VERSION"},
        {"missing cabinet", Bytes(), "list", 1, "CAB_ERR_CABINET_NOT_FOUND"},
        {"missing operand", Bytes(), "extract", 2, "usage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch s;
        std::string path = s.dir + "/in.cab";
        if (!c.cabinet.empty()) WriteBytes(path, c.cabinet);
        std::string args = std::string(c.command) + " " + path;
        if (strcmp(c.command, "extract") == 0 && c.exitCode != 2) args += " " + s.dir + "/out";
        Result r = RunCabtool(s, args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(Cabtool, UnsafeNamesAreNeverWrittenOutsideTheTarget)
{
    const char* const names[] = {"..\\escaped.txt", "a\\..\\..\\escaped.txt", "\\escaped.txt", "/tmp/escaped.txt",
                                 "C:escaped.txt", "../escaped.txt", "a\\\\b", "NUL", "com1.txt", "a\\LPT9",
                                 "name.", "name ", "dir.\\x"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Scratch s;
        CabinetSpec cab;
        Bytes data = MakeText(100, 6);
        cab.folders.push_back(FolderSpec{0, StoredBlocks(data), -1});
        cab.files = {{name, 100, 0, 0}};
        WriteBytes(s.dir + "/evil.cab", cab.Build());
        Result r = RunCabtool(s, "extract " + s.dir + "/evil.cab " + s.dir + "/out/inner");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("CAB_ERR_USER_ABORT"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(s.dir + "/escaped.txt"));
        EXPECT_FALSE(Exists(s.dir + "/out/escaped.txt"));
        EXPECT_FALSE(Exists("/tmp/escaped.txt"));
    }
}

TEST(Cabtool, UsageErrorsExitTwo)
{
    Scratch s;
    const char* const args[] = {"", "list", "frobnicate x.cab", "list a.cab b.cab", "extract a.cab"};
    for (const char* a : args) {
        Result r = RunCabtool(s, a);
        EXPECT_EQ(r.exitCode, 2) << a;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << a;
    }
}

}  // namespace
