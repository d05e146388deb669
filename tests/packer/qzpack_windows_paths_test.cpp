// qzpack.exe started as Windows starts it, with a wide command line, on
// folders and files that a Windows user's profile may hold: accented,
// Cyrillic, CJK, with spaces, and past 260 characters. Each command must find,
// write and name them; every message is UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/install_layout.h"
#include "tests/packer/packer_test_data.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD RUN_LIMIT_MS = 300000;  // a hung qzpack fails the case

struct Outcome {
    DWORD code;
    std::string out;  // bytes as written
    std::string err;
};

// std::filesystem on MinGW keeps paths wide, and its u8 forms are UTF-8.
// Wine sets no 260-character limit on the wide calls, so the test's own
// file handling needs no \\?\ form.
std::string Utf8(const std::wstring& wide)
{
    return fs::path(wide).u8string();
}

std::wstring Wide(const std::string& utf8)
{
    return fs::u8path(utf8).wstring();
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// The file's bytes; "missing" when it cannot be opened, which no test file holds.
std::string ReadBytes(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "missing";
}

// std::filesystem's remove_all stops at 260 characters here.
void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path + L"\\" + name);
            else DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring Quoted(const std::wstring& argument)
{
    return L"\"" + argument + L"\"";
}

std::wstring QzpackProgram()
{
    return fs::absolute(Wide(QZPACK_PATH)).wstring();
}

// Starts program with a wide command line, as Explorer, cmd and PowerShell
// do, and gives its exit code.
DWORD Start(const std::wstring& program, const std::wstring& arguments, HANDLE out, HANDLE err)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring commandLine = Quoted(program) + L" " + arguments;
    PROCESS_INFORMATION process = {};
    DWORD code = DWORD(-1);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return code;
    if (WaitForSingleObject(process.hProcess, RUN_LIMIT_MS) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, DWORD(-1));
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// qzpack.exe run with its output going to files.
Outcome Qzpack(const std::wstring& arguments, const std::wstring& scratch,
               const std::wstring& program = QzpackProgram())
{
    const std::wstring outPath = scratch + L"\\stdout.txt";
    const std::wstring errPath = scratch + L"\\stderr.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    const HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    Outcome r{Start(program, arguments, out, err), {}, {}};
    CloseHandle(out);
    CloseHandle(err);
    r.out = ReadBytes(outPath);
    r.err = ReadBytes(errPath);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return r;
}

bool Contains(const std::string& text, const std::wstring& part)
{
    return text.find(Utf8(part)) != std::string::npos;
}

class QzpackWindowsPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch = (fs::temp_directory_path() / ("qzpack-paths-" + std::to_string(GetCurrentProcessId()))).wstring();
        RemoveTree(scratch);
        fs::create_directories(scratch);
    }

    void TearDown() override { RemoveTree(scratch); }

    std::wstring scratch;
};

// A user's folder of each kind, the installer built there from inputs named
// in other scripts, then listed, verified and unpacked beside it. The inputs
// are made-up bytes, so their places are not checked.
TEST_F(QzpackWindowsPaths, BuildListVerifyExtractTakeWriteAndNameEveryKindOfPath)
{
    const std::wstring segment = L"Очень длинное имя папки 中文 ñ ";
    std::wstring longFolder = L"long";
    while (longFolder.size() < 300) longFolder += L"\\" + segment + std::to_wstring(longFolder.size());
    const struct {
        const char* what;
        std::wstring folder;  // under the scratch folder
        bool slashes;         // given to qzpack with forward slashes
    } cases[] = {
        {"accented", L"José\\Desktop", false},
        {"Cyrillic with spaces", L"Рабочий стол\\Новая папка", false},
        {"CJK", L"桌面\\安装 程序", false},
        {"past 260 characters", longFolder, false},
        {"past 260 characters, with forward slashes", longFolder + L"\\ÿ", true},
    };
    const std::wstring inputNames[INSTALL_TARGET_COUNT] = {L"説明 書.txt", L"Библиотека.dll", L"二 號.dll",
                                                           L"Configuração.exe"};
    const std::vector<uint8_t> inputs[INSTALL_TARGET_COUNT] = {TextBytes(700, 1), TextBytes(40000, 2),
                                                               RandomBytes(3000, 3), TextBytes(9000, 4)};
    const std::wstring stub = fs::absolute(Wide(QZ_WINDOWS_INSTALLER)).wstring();

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring folder = scratch + L"\\" + c.folder;
        fs::create_directories(folder);
        std::wstring given = folder;  // as qzpack is given it
        if (c.slashes)
            for (wchar_t& ch : given)
                if (ch == L'\\') ch = L'/';
        std::wstring files;
        for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
            WriteBytes(folder + L"\\" + inputNames[i], inputs[i]);
            files += L" " + Quoted(given + L"\\" + inputNames[i]);
        }
        const std::wstring setup = given + L"\\setup.exe";

        const Outcome built =
            Qzpack(L"build --level 1 --no-role-check --stub " + Quoted(stub) + L" -o " + Quoted(setup) + files, scratch);
        ASSERT_EQ(built.code, 0u) << built.err;
        EXPECT_TRUE(Contains(built.out, setup)) << built.out;
        EXPECT_GT(ReadBytes(folder + L"\\setup.exe").size(), ReadBytes(stub).size());

        const Outcome listed = Qzpack(L"list " + Quoted(setup), scratch);
        EXPECT_EQ(listed.code, 0u) << listed.err;
        EXPECT_NE(listed.out.find("passed"), std::string::npos) << listed.out;

        const Outcome verified = Qzpack(L"verify --no-role-check " + Quoted(setup), scratch);
        EXPECT_EQ(verified.code, 0u) << verified.err;
        EXPECT_TRUE(Contains(verified.out, setup + L": 4 entries, all complete and intact")) << verified.out;

        // Into a folder that is not there yet, under the same long path.
        const std::wstring out = given + L"\\распаковано\\新";
        const Outcome extracted = Qzpack(L"extract " + Quoted(setup) + L" -d " + Quoted(out), scratch);
        ASSERT_EQ(extracted.code, 0u) << extracted.err;
        for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
            const std::wstring target = folder + L"\\распаковано\\新\\" + Wide(INSTALL_TARGETS[i]);
            EXPECT_EQ(ReadBytes(target), std::string(inputs[i].begin(), inputs[i].end())) << INSTALL_TARGETS[i];
        }
        EXPECT_TRUE(Contains(extracted.out, L"新\\" + Wide(INSTALL_TARGETS[1]))) << extracted.out;
    }
}

// Unzipped into a folder under the user's name, it finds the stub beside it.
TEST_F(QzpackWindowsPaths, RunFromANonAsciiFolderItFindsTheStubBesideIt)
{
    const fs::path home = fs::path(scratch) / L"José Ĳssel" / L"qzpack 工具";
    fs::create_directories(home);
    fs::copy_file(Wide(QZPACK_PATH), home / L"qzpack.exe");
    fs::copy_file(Wide(QZ_WINDOWS_INSTALLER), home / L"installer.exe");
    const Outcome version = Qzpack(L"--version", scratch, (home / L"qzpack.exe").wstring());
    EXPECT_TRUE(Contains(version.out, (home / L"installer.exe").wstring())) << version.out;
    std::wstring files;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        const fs::path input = home / (L"ввод " + std::to_wstring(i));
        WriteBytes(input, TextBytes(500, uint32_t(i)));
        files += L" " + Quoted(input.wstring());
    }
    const Outcome built = Qzpack(L"build --no-role-check -o " + Quoted((home / L"setup.exe").wstring()) + files,
                                 scratch,
                                 (home / L"qzpack.exe").wstring());
    EXPECT_EQ(built.code, 0u) << built.err;
}

// A path qzpack cannot use is named in its message as it was given, in UTF-8
// like every other message, not in the ANSI code page's question marks.
TEST_F(QzpackWindowsPaths, ErrorsNameANonAsciiPathInUtf8)
{
    const std::wstring missing = scratch + L"\\Нет такого\\ファイル é.exe";
    const std::wstring commands[] = {L"list ", L"verify ", L"extract "};
    for (const std::wstring& command : commands) {
        const Outcome r = Qzpack(command + Quoted(missing), scratch);
        EXPECT_EQ(r.code, 1u) << Utf8(command);
        EXPECT_TRUE(Contains(r.err, missing)) << r.err;
    }
}

}  // namespace
