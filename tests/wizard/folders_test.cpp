// CreateFolderTree and CreateParentFolders on real folders of a temporary
// tree: what they create, what they refuse, and that a path too long for
// their buffers is refused rather than cut into another folder.
#include <gtest/gtest.h>

#include "tests/wizard/wizard_test_support.h"
#include "rollback/rollback.h"

namespace {

TEST(CreateFolderTree, CreatesWhatIsMissingAndRefusesWhatCannotBeAFolder)
{
    ScratchFolder root;
    WriteWholeFile(root / "file", "x");
    CreateDirectoryA((root / "exists").c_str(), nullptr);

    struct Case {
        std::string path;
        int result;
        std::string mustExist; // a folder that must be there afterwards
        std::string mustNotExist;
    } cases[] = {
        {root / "A\\B\\", 1, root / "A\\B", ""},
        {root / "C\\D", 1, root / "C\\D", ""},
        {root / "exists", 1, root / "exists", ""},
        {root / "exists\\", 1, root / "exists", ""},
        {root / "file\\sub", 0, "", root / "file\\sub"},
        {root / "file", 0, "", ""},
        {root / "wild*\\x", 0, "", root / "wild*"},
        {root / "what?", 0, "", ""},
        {"C:\\", 1, "", ""},
        {"C:", 0, "", ""},
        {"C", 0, "", ""},
        {"", 0, "", ""},
        {"\\\\nosuchserver\\share\\dir", 0, "", ""},
        {root / std::string(300, 'l'), 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.result, CreateFolderTree(c.path.c_str()));
        if (!c.mustExist.empty()) {
            EXPECT_TRUE(IsFolder(c.mustExist));
        }
        if (!c.mustNotExist.empty()) {
            EXPECT_FALSE(IsFolder(c.mustNotExist));
        }
    }
}

TEST(CreateFolderTree, RelativeFolderIsCreatedInTheCurrentDirectory)
{
    ScratchFolder root;
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(root.Path().c_str());
    int result = CreateFolderTree("rel\\sub");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(1, result);
    EXPECT_TRUE(IsFolder(root / "rel\\sub"));
}

TEST(CreateParentFolders, CreatesTheFolderOfAFilePathOnly)
{
    ScratchFolder root;
    struct Case {
        std::string filePath;
        int result;
        std::string mustExist;
    } cases[] = {
        {root / "A\\B\\file.txt", 1, root / "A\\B"},
        {root / "top.txt", 1, root.Path()},
        {"file.txt", 0, ""},
        {"\\file.txt", 0, ""},
        {root / std::string(300, 'f'), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filePath);
        EXPECT_EQ(c.result, CreateParentFolders(c.filePath.c_str()));
        if (!c.mustExist.empty()) {
            EXPECT_TRUE(IsFolder(c.mustExist));
        }
    }
    EXPECT_FALSE(IsFile(root / "A\\B\\file.txt"));
}

} // namespace
