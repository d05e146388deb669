#include "tests/runtime/runtime_test_support.h"

#include "runtime/strings.h"

namespace {

class Strings : public RuntimeService {
protected:
    // Builds a temporary from one text and stores it in a variable.
    static char* Assigned(const char* text)
    {
        char* variable = nullptr;
        char* const start = StringBegin();
        StringAppend(text);
        StringAssign(&variable, start);
        return variable;
    }

    // Runs a producer on a workspace still holding an earlier temporary's
    // bytes: its result stands at start, terminated, with the position on the
    // zero, and stays readable once released (the directory chooser compares
    // the last character after releasing it).
    template <typename Producer>
    static void ExpectProduced(const char* expected, Producer produce, const std::string& what)
    {
        char* const start = StringBegin();
        memset(start, 'x', 16);
        EXPECT_EQ(start, produce(start)) << what;
        EXPECT_STREQ(expected, start) << what;
        EXPECT_EQ(start + strlen(expected), InstallerState.WorkspacePosition) << what;
        StringRelease(start);
        EXPECT_STREQ(expected, start) << what;
    }
};

TEST_F(Strings, MissingStringBehavesAsEmptyAndKeepsTheTemporaryTerminated)
{
    char* const start = StringBegin();
    start[0] = 'x';
    StringAppend(nullptr);
    EXPECT_STREQ("", start);
    EXPECT_EQ(start, InstallerState.WorkspacePosition);
    StringAppend("C:\\Games\\");
    StringAppend(nullptr);
    EXPECT_STREQ("C:\\Games\\", start);
    EXPECT_EQ(start + 9, InstallerState.WorkspacePosition);
    EXPECT_EQ(0u, StringLength(nullptr));
}

TEST_F(Strings, EqualityIsExactAndCaseSensitiveWithMissingAsEmpty)
{
    struct Case {
        const char* a;
        const char* b;
        int equal;
    };
    const Case cases[] = {
        {"Winamp", "Winamp", 1},   {"Winamp", "winamp", 0}, {"Winamp", "Winamp\\", 0},
        {"Winamp\\", "Winamp", 0}, {"", "a", 0},            {nullptr, "", 1},
        {"", nullptr, 1},          {nullptr, nullptr, 1},   {nullptr, "a", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.equal, StringEquals(c.a, c.b)) << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
    EXPECT_EQ(1, StringEquals(nullptr, Assigned("")));
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

TEST_F(Strings, CopyOfATemporaryHasOneByteMoreThanItsText)
{
    char* const empty = Assigned("");
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(1u, HeapSize(InstallerState.RuntimeHeap, 0, empty));

    char* const start = StringBegin();
    EXPECT_EQ(start, StringSpaces(255, start));
    EXPECT_EQ(std::string(255, ' '), start);
    EXPECT_EQ(start + 255, InstallerState.WorkspacePosition);
    char* variable = nullptr;
    StringAssign(&variable, start);
    EXPECT_EQ(256u, HeapSize(InstallerState.RuntimeHeap, 0, variable));
    ExpectProduced("", [](char* at) { return StringSpaces(0, at); }, "no spaces");
}

TEST_F(Strings, RightTakesTheLastCharactersWithinBounds)
{
    struct Case {
        const char* text;
        int32_t count;
        const char* right;
    };
    const Case cases[] = {
        {"C:\\Winamp\\", 1, "\\"}, {"C:\\Winamp", 1, "p"}, {"abc", 2, "bc"}, {"abc", 3, "abc"},
        {"abc", 4, "abc"},         {"abc", 1000, "abc"},   {"abc", 0, ""},   {"abc", -1, ""},
        {"abc", INT32_MIN, ""},    {"", 1, ""},            {nullptr, 3, ""},
    };
    for (const Case& c : cases) {
        ExpectProduced(c.right, [&](char* at) { return StringRight(c.text, c.count, at); },
                       std::string(c.text ? c.text : "null") + " " + std::to_string(c.count));
    }
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
        {nullptr, ""},
    };
    for (const Case& c : cases)
        ExpectProduced(c.name, [&](char* at) { return PathFilePart(c.path, at); }, c.path ? c.path : "null");

    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_STREQ("runtime_tests.exe", PathFilePart(path, StringBegin()));
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
