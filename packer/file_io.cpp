#include "packer/file_io.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
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

bool FileWriteAtomic(const std::string& path, const std::vector<uint8_t>& data, std::string& error)
{
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".qzpack-" + std::to_string(ProcessId()) + ".tmp";
    FILE* f = fopen(temporary.string().c_str(), "wb");
    if (!f) {
        error = "cannot create " + temporary.string() + ": " + strerror(errno);
        return false;
    }
    const bool written = FileWriteAll(f, data);
    if (fclose(f) != 0 || !written) {
        error = "cannot write " + temporary.string() + ": " + strerror(errno);
        remove(temporary.string().c_str());
        return false;
    }
    if (!RenameOver(temporary.string(), path)) {
        error = "cannot rename " + temporary.string() + " to " + path;
        remove(temporary.string().c_str());
        return false;
    }
    return true;
}

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
