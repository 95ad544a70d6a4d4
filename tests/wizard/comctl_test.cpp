// The common-controls check: the version rule, the one-time read of the
// real library under Wine, and the update package written out of its
// container into the temporary folder.
#include <gtest/gtest.h>

#include "registration/registration.h"
#include "tests/wizard/wizard_test_support.h"

namespace {

TEST(ComctlIsCurrent, FromVersion4Point72On)
{
    struct Case {
        uint16_t major, minor;
        int current;
    } cases[] = {{4, 71, 0}, {4, 72, 1}, {4, 80, 1}, {5, 0, 1}, {6, 10, 1}, {3, 99, 0}, {4, 0, 0}, {0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
        PrepareWizardContext();
        // A version already read is used as it stands.
        Context.ComctlVersionState = 1;
        Context.ComctlVersion.Major = c.major;
        Context.ComctlVersion.Minor = c.minor;
        EXPECT_EQ(c.current, ComctlIsCurrent());
        EXPECT_EQ(c.major, Context.ComctlVersion.Major);
    }
}

TEST(ReadComctlVersion, ReadsTheSystemLibraryOnce)
{
    PrepareWizardContext();
    EXPECT_EQ(-1, Context.ComctlVersionState);
    EXPECT_EQ(1, ReadComctlVersion());
    EXPECT_EQ(1, Context.ComctlVersionState);
    EXPECT_GE(Context.ComctlVersion.Major, 5); // Wine's own library is recent
    // Later calls keep what was read.
    Context.ComctlVersion.Major = 4;
    Context.ComctlVersion.Minor = 70;
    EXPECT_EQ(1, ReadComctlVersion());
    EXPECT_EQ(0, ComctlIsCurrent());
}

TEST(UnpackComctlUpdate, WritesThePackageIntoTheTemporaryFolder)
{
    PrepareWizardContext();
    ScratchFolder temp;
    TempFolderOverride redirect(temp.Path() + "\\");
    char path[260];
    ASSERT_EQ(1, UnpackComctlUpdate(path));
    // Exactly one backslash before the file name, although the temporary
    // folder is given with one.
    EXPECT_EQ(temp / "40comupd.exe", std::string(path));
    EXPECT_EQ("comctl update stand-in\r\n", ReadWholeFile(path));
    DeleteFileA(path);
}

TEST(UnpackComctlUpdate, LeavesTheBufferAloneWhenItCannot)
{
    PrepareWizardContext();
    ScratchFolder temp;
    char path[260] = "untouched";
    {
        // A temporary folder beyond the 150 characters GetTempPathA may
        // write is refused.
        TempFolderOverride redirect(temp.Path() + "\\" + std::string(160, 'x'));
        EXPECT_EQ(0, UnpackComctlUpdate(path));
        EXPECT_STREQ("untouched", path);
    }
    {
        // No package in the module: nothing to write.
        TempFolderOverride redirect(temp.Path());
        Context.InstanceHandle = GetModuleHandleA("kernel32.dll");
        EXPECT_EQ(0, UnpackComctlUpdate(path));
        EXPECT_STREQ("untouched", path);
        EXPECT_FALSE(IsFile(temp / "40comupd.exe"));
    }
}

} // namespace
