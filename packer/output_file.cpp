#include "packer/output_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "packer/file_io.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

bool WriteStandardOutput(const std::vector<uint8_t>& data, std::string& error)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (FileWriteAll(stdout, data)) return true;
    error = std::string("cannot write to standard output: ") + strerror(errno);
    return false;
}

// Devices and FIFOs are opened as they are: renaming a file over one would
// put a regular file in its place.
bool WriteThrough(const std::string& path, const std::vector<uint8_t>& data, std::string& error)
{
    FILE* f = FileOpen(path, "wb");
    if (!f) {
        error = std::string("cannot open: ") + strerror(errno);
        return false;
    }
    bool ok = FileWriteAll(f, data);
    int reason = errno;
    if (fclose(f) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    if (!ok) error = std::string("cannot write: ") + strerror(reason);
    return ok;
}

}  // namespace

bool OutputIsStandard(const std::string& path)
{
    return path == OUTPUT_STANDARD;
}

bool OutputWrite(const std::string& path, const std::vector<uint8_t>& data, std::string& error)
{
    if (OutputIsStandard(path)) return WriteStandardOutput(data, error);
    std::error_code ec;
    const fs::path system = PathForSystem(path);
    const fs::file_status status = fs::status(system, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status))
        return WriteThrough(path, data, error);
    if (fs::is_symlink(fs::symlink_status(system, ec)) && fs::is_regular_file(status)) {
        const fs::path target = fs::canonical(system, ec);
        if (!ec) return FileWriteAtomic(PathToUtf8(target), data, error);
    }
    return FileWriteAtomic(path, data, error);
}
