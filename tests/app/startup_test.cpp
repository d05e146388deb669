#include "tests/runtime/runtime_test_support.h"

namespace {

struct CommandLineCase {
    const char* line;
    const char* arguments;
};

TEST(CommandLineSkipProgramName, SkipsExactlyTheProgramNameAndItsBlanks)
{
    const CommandLineCase cases[] = {
        {"\"C:\\Program Files\\setup.exe\" /S", "/S"},
        {"\"C:\\a b\\setup.exe\"   x y", "x y"},
        {"\"setup.exe\"rest", "rest"},
        {"\"setup.exe\"", ""},
        {"setup.exe /S", "/S"},
        {"setup.exe    two  words", "two  words"},
        {"setup.exe", ""},
        {"", ""},
        // A tab is not a separator: it belongs to the name or the arguments.
        {"setup.exe\t/S", ""},
        {"setup.exe \t/S", "\t/S"},
        {"\"setup.exe\" \t/S", "\t/S"},
        // An unclosed quote skips nothing.
        {"\"C:\\Program Files\\setup.exe /S", "\"C:\\Program Files\\setup.exe /S"},
    };
    for (const CommandLineCase& c : cases)
        EXPECT_STREQ(c.arguments, CommandLineSkipProgramName(c.line)) << "line: " << c.line;
}

TEST(ModuleDirectoryCut, KeepsTheTrailingBackslashAndDriveRoots)
{
    const CommandLineCase cases[] = {
        {"D:\\Install\\setup.exe", "D:\\Install\\"},
        {"C:\\setup.exe", "C:\\"},
        {"C:\\dir with spaces\\sub dir\\setup.exe", "C:\\dir with spaces\\sub dir\\"},
        {"setup.exe", ""},
        {"\\\\server\\share\\setup.exe", "\\\\server\\share\\"},
        {"C:/forward/slashes.exe", ""},
    };
    for (const CommandLineCase& c : cases) {
        std::string path = c.line;
        ModuleDirectoryCut(&path[0]);
        EXPECT_STREQ(c.arguments, path.c_str()) << "path: " << c.line;
    }
}

std::string OwnDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    ModuleDirectoryCut(path);
    return path;
}

// Copies the probe program to the given place, runs it there, and returns the
// module directory it found at start-up.
std::string ModuleDirectoryOfProbeAt(const std::string& target)
{
    const std::string probe = OwnDirectory() + "module_directory_probe.exe";
    const std::string report = OwnDirectory() + "module_directory_report.txt";
    DeleteFileA(report.c_str());
    EXPECT_TRUE(CopyFileA(probe.c_str(), target.c_str(), FALSE)) << target;

    std::string commandLine = "\"" + target + "\" " + report;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(target.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 30000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DeleteFileA(target.c_str());
    const std::string found = ReadWholeFile(report);
    DeleteFileA(report.c_str());
    return found;
}

TEST(InstallerStartup, ModuleDirectoryOfAFolderWithSpacesOrOfADriveRoot)
{
    const std::string folder = "C:\\qz start-up test\\with spaces here\\";
    CreateDirectoryA("C:\\qz start-up test", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_EQ(folder, ModuleDirectoryOfProbeAt(folder + "probe with spaces.exe"));
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA("C:\\qz start-up test");
    EXPECT_EQ("C:\\", ModuleDirectoryOfProbeAt("C:\\qz-root-probe.exe"));
}

TEST(InstallerStartup, StartsWithAZeroedStateAndAnEmptyWorkspace)
{
    InstallerState.QuitFlag = 1;
    InstallerState.EntrySize = 77;
    ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr)));
    EXPECT_EQ(0, InstallerState.QuitFlag);
    EXPECT_EQ(0, InstallerState.EntrySize);
    EXPECT_EQ(nullptr, InstallerState.ChosenDirectory);
    ASSERT_NE(nullptr, InstallerState.RuntimeHeap);
    ASSERT_NE(nullptr, InstallerState.WorkspacePosition);
    EXPECT_EQ(OwnDirectory(), InstallerState.ModuleDirectory);
    // The workspace is zero-filled and all of it is usable.
    for (DWORD i = 0; i < STRING_WORKSPACE_SIZE; ++i)
        ASSERT_EQ(0, InstallerState.WorkspacePosition[i]) << i;
    InstallerShutdown();
    EXPECT_EQ(nullptr, InstallerState.RuntimeHeap);
}

} // namespace
