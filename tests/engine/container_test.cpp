// Tests of UnpackContainer over containers made with zlib here: what is
// accepted, what is refused without touching the output file, and how an
// existing file is replaced.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "engine/engine.h"
#include "tests/engine/engine_test_files.h"

using namespace enginetest;

namespace {

std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string ZlibStream(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
    out.resize(size);
    return out;
}

std::string Container(const std::string& data, const char* magic = "CVZB")
{
    return std::string(magic, 4) + Le32(static_cast<uint32_t>(data.size())) + ZlibStream(data);
}

std::string WithLength(std::string container, uint32_t length)
{
    return container.replace(4, 4, Le32(length));
}

std::string SamplePayload()
{
    std::string s;
    for (int i = 0; i < 20000; ++i)
        s += static_cast<char>((i * 7919) >> 3);
    return s + "UnInstall.exe stand-in";
}

int Unpack(const std::string& container, const std::string& path)
{
    return UnpackContainer(container.data(), static_cast<uint32_t>(container.size()), path.c_str());
}

TEST(ContainerTest, AcceptedContainersWriteTheTrueContent)
{
    const std::string payload = SamplePayload();
    const std::string good = Container(payload);
    struct Case {
        const char* name;
        std::string container;
        std::string expected;
    } cases[] = {
        {"upper-case magic", good, payload},
        {"lower-case magic", Container(payload, "cvzb"), payload},
        {"mixed-case magic", Container(payload, "cVzB"), payload},
        {"length field one larger", WithLength(good, static_cast<uint32_t>(payload.size() + 1)), payload},
        {"empty file", Container(""), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        std::string out = folder.File("UnInstall.exe");
        EXPECT_EQ(Unpack(c.container, out), 1);
        bool found = false;
        EXPECT_EQ(ReadWholeFile(out, &found), c.expected);
        EXPECT_TRUE(found);
    }
}

TEST(ContainerTest, RefusedContainersCreateNoFileAndLeaveAnExistingOneAlone)
{
    const std::string payload = SamplePayload();
    const std::string good = Container(payload);
    std::string corrupt = good;
    corrupt[good.size() / 2] = static_cast<char>(corrupt[good.size() / 2] ^ 0x55);
    std::string badChecksum = good;
    badChecksum[good.size() - 1] = static_cast<char>(badChecksum[good.size() - 1] ^ 1);
    struct Case {
        const char* name;
        std::string container;
    } cases[] = {
        {"length field one smaller", WithLength(good, static_cast<uint32_t>(payload.size() - 1))},
        {"length field 0xFFFFFFFF", WithLength(good, 0xFFFFFFFFu)},
        {"length field that wraps with the slack", WithLength(good, 0xFFFFFFF6u)},
        {"length field just below wrapping", WithLength(good, 0xFFFFFFF5u)},
        {"truncated stream", good.substr(0, good.size() - 100)},
        {"stream cut after its header", good.substr(0, 10)},
        {"corrupt deflate data", corrupt},
        {"corrupt Adler-32", badChecksum},
        {"wrong magic", Container(payload, "CVZA")},
        {"magic only", std::string("CVZB")},
        {"seven bytes", good.substr(0, 7)},
        {"no bytes", std::string()},
        {"header without stream", good.substr(0, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        std::string fresh = folder.File("fresh.exe");
        EXPECT_EQ(Unpack(c.container, fresh), 0);
        EXPECT_FALSE(PathExists(fresh));

        std::string existing = folder.File("existing.exe");
        WriteWholeFile(existing, "previous program");
        EXPECT_EQ(Unpack(c.container, existing), 0);
        EXPECT_EQ(ReadWholeFile(existing), "previous program");
    }
}

TEST(ContainerTest, ReplacesAnExistingFileCompletely)
{
    ScratchFolder folder;
    std::string out = folder.File("40comupd.exe");
    WriteWholeFile(out, std::string(100000, 'x'));
    EXPECT_EQ(Unpack(Container("short"), out), 1);
    EXPECT_EQ(ReadWholeFile(out), "short");
}

TEST(ContainerTest, UnwritableOutputFails)
{
    ScratchFolder folder;
    const std::string good = Container(SamplePayload());
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"folder that does not exist", folder.File("absent\\UnInstall.exe")},
        {"path naming a folder", folder.Path()},
        {"empty path", std::string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Unpack(good, c.path), 0);
    }
    EXPECT_EQ(UnpackContainer(good.data(), static_cast<uint32_t>(good.size()), nullptr), 0);
}

// A file open elsewhere without sharing cannot be replaced: the result is
// 0 and the other program's file keeps its content.
TEST(ContainerTest, FileLockedByAnotherHandleIsLeftAlone)
{
    ScratchFolder folder;
    std::string out = folder.File("UnInstall.exe");
    WriteWholeFile(out, "in use");
    HANDLE h = CreateFileA(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Unpack(Container(SamplePayload()), out), 0);
    CloseHandle(h);
    EXPECT_EQ(ReadWholeFile(out), "in use");
}

} // namespace
