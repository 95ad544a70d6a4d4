// The RTF display: the localised resource name, the copy of a resource into
// a temporary file (in chunks, and refused cleanly when the temporary
// folder or file name does not fit its buffer) and the streaming of that
// file into a rich-edit control.
#include <gtest/gtest.h>

#include <richedit.h>

#include "tests/wizard/wizard_test_support.h"
#include "wizard/pages.h"
#include "wizard/wizard.h"

namespace {

std::string ResourceBytes(const char* type, const char* name)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC r = FindResourceA(module, name, type);
    if (!r)
        return std::string();
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, r))), SizeofResource(module, r));
}

// A folder below root whose path, with its trailing backslash, is exactly
// length characters long.
std::string FolderOfLength(const ScratchFolder& root, size_t length)
{
    std::string path = root.Path();
    size_t remaining = length - 1 - path.size();
    while (remaining > 0) {
        size_t segment = remaining < 61 ? remaining : 61;
        if (remaining - segment == 1)
            --segment;
        path += "\\" + std::string(segment - 1, 'd');
        CreateDirectoryA(path.c_str(), nullptr);
        remaining -= segment;
    }
    return path;
}

// The licence comes in the language spoken, under one name in each.
TEST(ExtractResourceToTempFile, TakesTheTextOfTheLanguageSpoken)
{
    ScratchFolder temp;
    TempFolderOverride redirect(temp.Path());
    for (LANGID language : {kEnglish, kFrench, kDutch}) {
        PrepareWizardContext(language);
        char path[260];
        ASSERT_EQ(1, ExtractResourceToTempFile("RTF", "AGREEMENT", path));
        std::string text = ReadWholeFile(path);
        DeleteFileA(path);
        EXPECT_NE(std::string::npos, text.find(language == kFrench  ? "Contrat de licence"
                                               : language == kDutch ? "Licentieovereenkomst"
                                                                    : "End User License Agreement"))
            << language;
    }
}

TEST(ExtractResourceToTempFile, CopiesEveryResourceWholeIncludingLargeAndEmptyOnes)
{
    PrepareWizardContext();
    ScratchFolder temp;
    TempFolderOverride redirect(temp.Path());
    const char* names[][2] = {{"RTF", "BIGTEXT"}, {"RTF", "EMPTYTEXT"}, {"RTF", "AGREEMENT"}, {"RTF", "INFORMATION"}};
    for (auto& n : names) {
        SCOPED_TRACE(n[1]);
        char path[260];
        ASSERT_EQ(1, ExtractResourceToTempFile(n[0], n[1], path));
        EXPECT_EQ(0, strncmp(path, temp.Path().c_str(), temp.Path().size()));
        EXPECT_EQ(ResourceBytes(n[0], n[1]), ReadWholeFile(path));
        DeleteFileA(path);
    }
    EXPECT_GT(ResourceBytes("RTF", "BIGTEXT").size(), 32767u * 1);
}

TEST(ExtractResourceToTempFile, FailsCleanlyWhenNothingCanBeCopied)
{
    PrepareWizardContext();
    ScratchFolder root;
    struct Case {
        const char* what;
        size_t folderLength; // 0: the scratch folder itself
        const char* name;
        int result;
    } cases[] = {
        {"missing resource", 0, "NOSUCHTEXT", 0},
        // The generated name adds 8 to 11 characters to the folder.
        {"full name of at most 143 characters fits", 132, "AGREEMENT", 1},
        {"full name of 144 characters or more does not", 137, "AGREEMENT", 0},
        {"folder of 149 characters", 149, "AGREEMENT", 0},
        {"folder over the 150-character limit", 180, "AGREEMENT", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = c.folderLength ? FolderOfLength(root, c.folderLength) : root.Path();
        if (c.folderLength) {
            ASSERT_EQ(c.folderLength, folder.size() + 1);
        }
        TempFolderOverride redirect(folder);
        char path[260];
        strcpy(path, "untouched?");
        EXPECT_EQ(c.result, ExtractResourceToTempFile("RTF", c.name, path));
        if (c.result) {
            EXPECT_GE(143u, strlen(path));
            EXPECT_TRUE(IsFile(path));
            DeleteFileA(path);
        } else {
            EXPECT_STREQ("", path);
        }
        // The empty file that GetTempFileNameA makes must not stay behind.
        EXPECT_EQ(0, CountTempCopies(folder));
    }
}

TEST(StreamRtfFile, LoadsTheWholeTextAndReportsAMissingFile)
{
    PrepareWizardContext();
    ScratchFolder temp;
    TempFolderOverride redirect(temp.Path());
    HWND edit = CreateWindowExA(0, "RICHEDIT", "", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_POPUP, 0, 0, 300,
                                200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, edit);

    char path[260];
    ASSERT_EQ(1, ExtractResourceToTempFile("RTF", "BIGTEXT", path));
    EXPECT_EQ(1, StreamRtfFile(edit, SF_RTF, path));
    // More than the control's default limit of 32767 characters arrives,
    // the last paragraph included.
    std::string text(GetWindowTextLengthA(edit) + 1, '\0');
    GetWindowTextA(edit, &text[0], static_cast<int>(text.size()));
    size_t count = 0;
    for (size_t at = text.find("GlyphForge"); at != std::string::npos; at = text.find("GlyphForge", at + 1))
        ++count;
    EXPECT_EQ(2560u, count);
    EXPECT_NE(0, SendMessageA(edit, EM_GETMODIFY, 0, 0));
    DeleteFileA(path);

    EXPECT_EQ(0, StreamRtfFile(edit, SF_RTF, (temp / "missing.rtf").c_str()));
    DestroyWindow(edit);
}

} // namespace
