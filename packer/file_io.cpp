#include "packer/file_io.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <atomic>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32
// The C runtime's wide counterpart of the arguments it gives main; msvcrt
// exports it, no header declares it.
struct StartupInfo {
    int newMode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                              StartupInfo* startup);
#endif

namespace {

#ifdef _WIN32
// Past this many characters a path needs the \\?\ form: CreateDirectoryW's
// limit, MAX_PATH less room for an 8.3 file name, is the lowest.
constexpr size_t PATH_PLAIN_MAX = MAX_PATH - 12;
// The longest path the wide calls take.
constexpr DWORD PATH_WIDE_MAX = 32768;

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

// Text for a console goes through a pipe that a thread drains into
// WriteConsoleW: the C runtime's own console output reads the bytes in a
// legacy code page whatever the console's code page is (Wine's msvcrt does),
// and a UTF-8 sequence written byte by byte is shown broken.
struct ConsoleRelay {
    HANDLE console;          // a copy of the console handle the text goes to
    HANDLE reader;           // the pipe's end the thread reads
    HANDLE thread;
    bool streams[2];         // stdout, stderr relayed
};
ConsoleRelay g_relay = {};

constexpr int RELAY_FDS[2] = {1, 2};  // stdout's and stderr's descriptors
constexpr size_t RELAY_CHUNK = 4096;
constexpr size_t UTF8_LONGEST = 4;

// How much of text ends on a whole UTF-8 character.
size_t Utf8WholeLength(const char* text, size_t size)
{
    for (size_t back = 1; back <= UTF8_LONGEST && back <= size; ++back) {
        const unsigned char c = (unsigned char)text[size - back];
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

void ConsoleWriteUtf8(const char* text, size_t size)
{
    const std::wstring wide = Wide(std::string(text, size));
    DWORD written;
    for (size_t at = 0; at < wide.size(); at += written)
        if (!WriteConsoleW(g_relay.console, wide.data() + at, DWORD(wide.size() - at), &written, nullptr) ||
            written == 0)
            return;
}

DWORD WINAPI ConsoleRelayRun(void*)
{
    char buffer[RELAY_CHUNK + UTF8_LONGEST];
    size_t kept = 0;  // the start of a character the next read completes
    DWORD got;
    while (ReadFile(g_relay.reader, buffer + kept, RELAY_CHUNK, &got, nullptr) && got > 0) {
        const size_t size = kept + got;
        const size_t whole = Utf8WholeLength(buffer, size);
        ConsoleWriteUtf8(buffer, whole);
        kept = size - whole;
        memmove(buffer, buffer + whole, kept);
    }
    ConsoleWriteUtf8(buffer, kept);
    return 0;
}

// At exit: the streams are flushed and closed, and the thread has shown all.
void ConsoleRelayEnd()
{
    for (int i = 0; i < 2; ++i) {
        if (!g_relay.streams[i]) continue;
        fflush(i == 0 ? stdout : stderr);
        _close(RELAY_FDS[i]);
    }
    WaitForSingleObject(g_relay.thread, INFINITE);
}

// Starts the thread that shows what is written to the descriptor returned on
// console; -1 when it cannot, and nothing is relayed.
int ConsoleRelayStart(HANDLE console)
{
    HANDLE copy, reader, writer;
    // A copy: putting the pipe in a stream's place closes the stream's handle.
    if (!DuplicateHandle(GetCurrentProcess(), console, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return -1;
    if (!CreatePipe(&reader, &writer, nullptr, 0)) {
        CloseHandle(copy);
        return -1;
    }
    g_relay = {copy, reader, nullptr, {}};
    const int fd = _open_osfhandle(intptr_t(writer), _O_BINARY);
    if (fd >= 0) g_relay.thread = CreateThread(nullptr, 0, ConsoleRelayRun, nullptr, 0, nullptr);
    if (g_relay.thread) return fd;
    if (fd >= 0) _close(fd);
    else CloseHandle(writer);
    CloseHandle(reader);
    CloseHandle(copy);
    g_relay = {};
    return -1;
}

bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}
#endif

unsigned long ProcessId()
{
#ifdef _WIN32
    return (unsigned long)_getpid();
#else
    return (unsigned long)getpid();
#endif
}

bool IsFolder(const std::string& path)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(PathForSystem(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
#endif
}

// One folder, its parent being there; errno says why when it fails.
bool FolderMake(const std::string& path)
{
#ifdef _WIN32
    return _wmkdir(PathForSystem(path).c_str()) == 0;
#else
    return mkdir(path.c_str(), 0777) == 0;
#endif
}

void FileRemove(const std::string& path)
{
#ifdef _WIN32
    _wremove(PathForSystem(path).c_str());
#else
    remove(path.c_str());
#endif
}

// Replaces an existing target too: on Windows rename() refuses to.
bool RenameOver(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExW(PathForSystem(from).c_str(), PathForSystem(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

std::vector<std::string> ArgumentsUtf8(int argc, char** argv)
{
    std::vector<std::string> arguments;
#ifdef _WIN32
    // The runtime's own split of the wide command line, by the rules that
    // made argv: shell32's CommandLineToArgvW would load a dozen DLLs into
    // the 32-bit address space the compressor needs.
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo startup = {0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &startup) == 0 && wide && count == argc) {
        for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(wide[i]));
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i) arguments.push_back(argv[i]);
    return arguments;
}

void ConsoleUseUtf8()
{
#ifdef _WIN32
    const bool consoles[2] = {IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)), IsConsole(GetStdHandle(STD_ERROR_HANDLE))};
    if (!consoles[0] && !consoles[1]) return;
    const int fd = ConsoleRelayStart(GetStdHandle(consoles[0] ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
    if (fd < 0) return;
    for (int i = 0; i < 2; ++i) {
        if (!consoles[i]) continue;
        FILE* stream = i == 0 ? stdout : stderr;
        fflush(stream);
        g_relay.streams[i] = _dup2(fd, RELAY_FDS[i]) == 0;
        // Unbuffered, as stderr is, so that the two keep their order.
        setvbuf(stream, nullptr, _IONBF, 0);
    }
    _close(fd);
    atexit(ConsoleRelayEnd);
#endif
}

fs::path PathFromUtf8(const std::string& path)
{
#ifdef _WIN32
    return fs::path(Wide(path));
#else
    return fs::path(path);
#endif
}

std::string PathToUtf8(const fs::path& path)
{
#ifdef _WIN32
    return Utf8(path.native());
#else
    return path.native();
#endif
}

fs::path PathForSystem(const std::string& path)
{
#ifdef _WIN32
    const std::wstring wide = Wide(path);
    if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
    // The \\?\ form is taken as it stands: it must be absolute, with
    // backslashes and no "." or "..", as GetFullPathNameW makes it.
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);  // with the terminator
    if (needed == 0 || needed <= PATH_PLAIN_MAX + 1) return wide;
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (n == 0 || n >= needed) return wide;
    full.resize(n);
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
#else
    return fs::path(path);
#endif
}

fs::path PathForSystem(const fs::path& path)
{
    return PathForSystem(PathToUtf8(path));
}

uint64_t FileSizeOf(const std::string& path)
{
    std::error_code ec;
    const fs::path system = PathForSystem(path);
    const uintmax_t size = fs::is_regular_file(system, ec) ? fs::file_size(system, ec) : 0;
    return ec ? 0 : size;
}

FILE* FileOpen(const std::string& path, const char* mode)
{
#ifdef _WIN32
    return _wfopen(PathForSystem(path).c_str(), Wide(mode).c_str());
#else
    return fopen(path.c_str(), mode);
#endif
}

bool FolderCreate(const std::string& path, std::string& error)
{
    if (path.empty() || IsFolder(path)) return true;
    const fs::path parent = PathFromUtf8(path).parent_path();
    if (parent != PathFromUtf8(path) && !FolderCreate(PathToUtf8(parent), error)) return false;
    if (FolderMake(path)) return true;
    const int reason = errno;
    if (reason == EEXIST && IsFolder(path)) return true;  // made meanwhile by another
    error = "cannot create folder " + path + ": " + strerror(reason);
    return false;
}

bool FileReadAll(const std::string& path, std::vector<uint8_t>& data, std::string& error)
{
    if (IsFolder(path)) {
        error = "is a folder, not a file";
        return false;
    }
    FILE* f = FileOpen(path, "rb");
    if (!f) {
        error = std::string("cannot open: ") + strerror(errno);
        return false;
    }
    data.clear();
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + got);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        error = "read error";
        return false;
    }
    return true;
}

bool FileWriteAll(FILE* f, const std::vector<uint8_t>& data)
{
    const bool written = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    return fflush(f) == 0 && written && !ferror(f);
}

bool FileWriteTemporary(const std::string& path, const std::vector<uint8_t>& data, std::string& temporary,
                        std::string& error)
{
    temporary = path + ".qzpack-" + std::to_string(ProcessId()) + ".tmp";
    FILE* f = FileOpen(temporary, "wb");
    if (!f) {
        error = "cannot create " + temporary + ": " + strerror(errno);
        return false;
    }
    const bool written = FileWriteAll(f, data);
    if (fclose(f) != 0 || !written) {
        error = "cannot write " + temporary + ": " + strerror(errno);
        FileRemove(temporary);
        return false;
    }
    return true;
}

bool FileMoveOver(const std::string& temporary, const std::string& path, std::string& error)
{
    if (RenameOver(temporary, path)) return true;
    error = "cannot rename " + temporary + " to " + path;
    FileRemove(temporary);
    return false;
}

bool FileIdentityOf(const std::string& path, FileIdentity& identity)
{
#ifdef _WIN32
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE h = CreateFileW(PathForSystem(path).c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) return false;
    identity = {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    identity = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
#endif
    return true;
}

bool FileIdentitySame(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && a.index == b.index;
}

#ifdef _WIN32
namespace {

std::atomic<bool> InterruptCame{false};

// Runs on a thread of its own: the request is noted, and the writer ends
// the process once its temporary files are gone.
BOOL WINAPI InterruptNote(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterruptCame = true;
    return TRUE;
}

}  // namespace

void InterruptsHold()
{
    SetConsoleCtrlHandler(InterruptNote, TRUE);
}

bool InterruptHeld()
{
    return InterruptCame;
}

void InterruptsRelease()
{
    SetConsoleCtrlHandler(InterruptNote, FALSE);
    if (InterruptCame) ExitProcess(STATUS_CONTROL_C_EXIT);
}
#else
namespace {

// The signals that end qzpack on a user's or the system's request.
const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The signal mask before InterruptsHold, which InterruptsRelease restores.
sigset_t MaskBeforeHold;

}  // namespace

void InterruptsHold()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : INTERRUPT_SIGNALS) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &MaskBeforeHold);
}

bool InterruptHeld()
{
    sigset_t pending;
    sigpending(&pending);
    for (int s : INTERRUPT_SIGNALS)
        if (sigismember(&pending, s)) return true;
    return false;
}

// A held signal is delivered here, and ends the process.
void InterruptsRelease()
{
    sigprocmask(SIG_SETMASK, &MaskBeforeHold, nullptr);
}
#endif

std::string ExecutableDirectory(const char* argv0)
{
    std::error_code ec;
#ifdef _WIN32
    std::wstring buffer(PATH_WIDE_MAX, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], PATH_WIDE_MAX);
    if (n > 0 && n < PATH_WIDE_MAX) {
        buffer.resize(n);
        return PathToUtf8(fs::path(buffer).parent_path());
    }
#else
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path().string();
#endif
    if (!argv0 || !*argv0) return {};
    const fs::path p = fs::absolute(PathFromUtf8(argv0), ec);
    return ec ? std::string() : PathToUtf8(p.parent_path());
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return g_relay.streams[1] || _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}
