#include "packer/file_io.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

#ifdef _WIN32
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

namespace {

unsigned long ProcessId()
{
#ifdef _WIN32
    return (unsigned long)_getpid();
#else
    return (unsigned long)getpid();
#endif
}

// Replaces an existing target too: on Windows rename() refuses to.
bool RenameOver(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool FileReadAll(const std::string& path, std::vector<uint8_t>& data, std::string& error)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = "is a folder, not a file";
        return false;
    }
    FILE* f = fopen(path.c_str(), "rb");
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
    fs::path name(path);
    name += ".qzpack-" + std::to_string(ProcessId()) + ".tmp";
    temporary = name.string();
    FILE* f = fopen(temporary.c_str(), "wb");
    if (!f) {
        error = "cannot create " + temporary + ": " + strerror(errno);
        return false;
    }
    const bool written = FileWriteAll(f, data);
    if (fclose(f) != 0 || !written) {
        error = "cannot write " + temporary + ": " + strerror(errno);
        remove(temporary.c_str());
        return false;
    }
    return true;
}

bool FileMoveOver(const std::string& temporary, const std::string& path, std::string& error)
{
    if (RenameOver(temporary, path)) return true;
    error = "cannot rename " + temporary + " to " + path;
    remove(temporary.c_str());
    return false;
}

bool FileIdentityOf(const std::string& path, FileIdentity& identity)
{
#ifdef _WIN32
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
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
    char buffer[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) return fs::path(buffer).parent_path().string();
#else
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path().string();
#endif
    if (!argv0 || !*argv0) return {};
    const fs::path p = fs::absolute(argv0, ec);
    return ec ? std::string() : p.parent_path().string();
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}
