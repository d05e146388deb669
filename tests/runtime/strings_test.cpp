#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/installer_state.h"
#include "app/startup.h"
#include "runtime/strings.h"

namespace {

class Strings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr))); }
    void TearDown() override { InstallerShutdown(); }

    // Builds a temporary from one text and stores it in a variable.
    static char* Assigned(const char* text)
    {
        char* variable = nullptr;
        char* const start = StringBegin();
        StringAppend(text);
        StringAssign(&variable, start);
        return variable;
    }
};

TEST_F(Strings, MissingStringBehavesAsEmptyEverywhere)
{
    char* missing = nullptr;
    char* const start = StringBegin();
    StringAppend("C:\\Games\\");
    StringAppend(missing);
    EXPECT_STREQ("C:\\Games\\", start);
    EXPECT_EQ(start + 9, InstallerState.WorkspacePosition);

    EXPECT_EQ(0u, StringLength(missing));
    EXPECT_EQ(1, StringEquals(missing, ""));
    EXPECT_EQ(1, StringEquals("", missing));
    EXPECT_EQ(1, StringEquals(missing, nullptr));
    EXPECT_EQ(1, StringEquals(missing, Assigned("")));
    EXPECT_STREQ("", StringRight(missing, 3, StringBegin()));
    EXPECT_STREQ("", PathFilePart(missing, StringBegin()));
}

TEST_F(Strings, AppendingToAnEmptyWorkspaceAfterMissingKeepsItTerminated)
{
    char* const start = StringBegin();
    start[0] = 'x';
    StringAppend(nullptr);
    EXPECT_STREQ("", start);
    EXPECT_EQ(start, InstallerState.WorkspacePosition);
}

TEST_F(Strings, EqualityIsExactAndCaseSensitive)
{
    EXPECT_EQ(1, StringEquals("Winamp", "Winamp"));
    EXPECT_EQ(0, StringEquals("Winamp", "winamp"));
    EXPECT_EQ(0, StringEquals("Winamp", "Winamp\\"));
    EXPECT_EQ(0, StringEquals("Winamp\\", "Winamp"));
    EXPECT_EQ(0, StringEquals("", "a"));
}

TEST_F(Strings, AssignCopiesTheTemporaryAndRewindsTheWorkspace)
{
    char* const start = StringBegin();
    char* first = nullptr;
    StringAppend("C:\\Winamp\\");
    StringAppend("plugins\\");
    StringAssign(&first, start);
    EXPECT_STREQ("C:\\Winamp\\plugins\\", first);
    EXPECT_NE(start, first);
    EXPECT_EQ(start, InstallerState.WorkspacePosition);

    // The next assignment reuses the same workspace bytes.
    char* second = nullptr;
    StringAppend("other");
    StringAssign(&second, start);
    EXPECT_EQ(start, InstallerState.WorkspacePosition);
    EXPECT_STREQ("other", second);
    EXPECT_STREQ("C:\\Winamp\\plugins\\", first);

    // Reassigning replaces the old copy.
    StringAppend("again");
    StringAssign(&first, start);
    EXPECT_STREQ("again", first);
}

TEST_F(Strings, EmptyTemporaryGivesAOneByteCopy)
{
    char* variable = Assigned("");
    ASSERT_NE(nullptr, variable);
    EXPECT_EQ(1u, HeapSize(InstallerState.RuntimeHeap, 0, variable));
    EXPECT_EQ(0u, StringLength(variable));
}

TEST_F(Strings, SpacesGiveCountBlanksAndTheirCopyHasOneMoreByte)
{
    char* const start = StringBegin();
    EXPECT_EQ(start, StringSpaces(255, start));
    EXPECT_EQ(std::string(255, ' '), start);
    EXPECT_EQ(start + 255, InstallerState.WorkspacePosition);
    char* variable = nullptr;
    StringAssign(&variable, start);
    EXPECT_EQ(256u, HeapSize(InstallerState.RuntimeHeap, 0, variable));

    EXPECT_STREQ("", StringSpaces(0, StringBegin()));
}

TEST_F(Strings, RightTakesTheLastCharactersWithinBounds)
{
    struct Case {
        const char* text;
        int32_t count;
        const char* right;
    };
    const Case cases[] = {
        {"C:\\Winamp\\", 1, "\\"},
        {"C:\\Winamp", 1, "p"},
        {"abc", 2, "bc"},
        {"abc", 3, "abc"},
        {"abc", 4, "abc"},
        {"abc", 1000, "abc"},
        {"abc", 0, ""},
        {"abc", -1, ""},
        {"abc", INT32_MIN, ""},
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        char* const start = StringBegin();
        EXPECT_EQ(start, StringRight(c.text, c.count, start));
        EXPECT_STREQ(c.right, start) << c.text << " " << c.count;
        EXPECT_EQ(start + strlen(c.right), InstallerState.WorkspacePosition);
        StringRelease(start);
    }
}

TEST_F(Strings, ReleasedTemporaryStaysReadableForComparison)
{
    // The directory chooser compares the last character after releasing it.
    char* const start = StringBegin();
    StringRight("D:\\Games\\", 1, start);
    StringRelease(start);
    EXPECT_EQ(1, StringEquals(start, "\\"));
}

TEST_F(Strings, PathFilePartOfQuotedAndPlainPaths)
{
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Setup\\setup.exe", "setup.exe"},
        {"\"C:\\Program Files\\Setup\\setup.exe\"", "setup.exe"},
        {"\"C:\\Program Files\\Setup\\setup.exe\" /S", "setup.exe"},
        {"\"setup.exe\"", "setup.exe"},
        {"setup.exe", "setup.exe"},
        {"C:\\Winamp\\", ""},
        {"\\", ""},
        {"C:\\dir\\na\"me.exe", "na"},
        {"C:/forward/slash.exe", "C:/forward/slash.exe"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char* const start = StringBegin();
        EXPECT_EQ(start, PathFilePart(c.path, start));
        EXPECT_STREQ(c.name, start) << c.path;
        EXPECT_EQ(start + strlen(c.name), InstallerState.WorkspacePosition) << c.path;
        StringRelease(start);
    }
}

TEST_F(Strings, PathFilePartOfTheExecutableIsItsFileName)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* const start = StringBegin();
    PathFilePart(path, start);
    EXPECT_STREQ("runtime_tests.exe", start);
}

TEST_F(Strings, HeldTemporarySurvivesTheCalleesTemporaries)
{
    char* const start = StringBegin();
    StringAppend("C:\\Winamp\\");
    StringAppend("zivora_config.exe");
    StringHold();
    // A callee building its own temporary must not overwrite the argument.
    char* const inner = StringBegin();
    StringSpaces(40, inner);
    EXPECT_STREQ("C:\\Winamp\\zivora_config.exe", start);
    StringRelease(start);
    EXPECT_EQ(start, InstallerState.WorkspacePosition);
}

TEST_F(Strings, DuplicateAndDiscardOwnSeparateCopies)
{
    char* copy = nullptr;
    StringDuplicate(nullptr, &copy);
    EXPECT_EQ(nullptr, copy);

    const char text[] = "SOFTWARE\\Morvend Software\\Zivora Varelle\\";
    StringDuplicate(text, &copy);
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(text, copy);
    EXPECT_STREQ(text, copy);
    EXPECT_EQ(sizeof text + 1, HeapSize(InstallerState.RuntimeHeap, 0, copy));
    StringDiscard(copy);
    StringDiscard(nullptr);
}

} // namespace
