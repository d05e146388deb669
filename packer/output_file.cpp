#include "packer/output_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "packer/file_io.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr fs::perms WRITE_PERMS = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

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

// Root may write any file, so its permission bits are what say "read-only".
bool IsReadOnly(const std::string& path, const fs::file_status& status)
{
    if ((status.permissions() & WRITE_PERMS) == fs::perms::none) return true;
#ifdef _WIN32
    return false;
#else
    return access(path.c_str(), W_OK) != 0;
#endif
}

}  // namespace

bool OutputIsStandard(const std::string& path)
{
    return path == OUTPUT_STANDARD;
}

bool OutputMayReplace(const std::string& path, bool force, std::string& error)
{
    std::error_code ec;
    const fs::file_status status = fs::status(PathForSystem(path), ec);
    if (force || OutputIsStandard(path) || !fs::is_regular_file(status) || !IsReadOnly(path, status)) return true;
    error = "is read-only; give --force to replace it";
    return false;
}

bool OutputStage(const std::string& path, const std::vector<uint8_t>& data, PendingOutput& output,
                 std::string& error)
{
    output = PendingOutput{path, {}, nullptr};
    std::error_code ec;
    const fs::path system = PathForSystem(path);
    const fs::file_status status = fs::status(system, ec);
    if (OutputIsStandard(path) || (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status))) {
        output.through = &data;
        return true;
    }
    if (fs::is_symlink(fs::symlink_status(system, ec)) && fs::is_regular_file(status)) {
        const fs::path target = fs::canonical(system, ec);
        if (!ec) output.path = PathToUtf8(target);
    }
    if (!FileWriteTemporary(output.path, data, output.temporary, error)) {
        output.temporary.clear();
        return false;
    }
    // The replacement keeps the old file's permissions, as an edit would.
    if (fs::is_regular_file(status)) fs::permissions(PathForSystem(output.temporary), status.permissions(), ec);
    return true;
}

bool OutputCommit(PendingOutput& output, std::string& error)
{
    if (output.through) {
        const std::vector<uint8_t>& data = *output.through;
        output.through = nullptr;
        return OutputIsStandard(output.path) ? WriteStandardOutput(data, error)
                                             : WriteThrough(output.path, data, error);
    }
    // Windows refuses to replace a read-only file; one given with --force
    // gets its write permission back first, and the temporary brings the
    // old permissions with it.
    std::error_code ec;
    const fs::path system = PathForSystem(output.path);
    const fs::file_status status = fs::status(system, ec);
    if (fs::is_regular_file(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none)
        fs::permissions(system, fs::perms::owner_write, fs::perm_options::add, ec);
    const bool moved = FileMoveOver(output.temporary, output.path, error);
    output.temporary.clear();
    return moved;
}

void OutputDiscard(PendingOutput& output)
{
    std::error_code ec;
    if (!output.temporary.empty()) fs::remove(PathForSystem(output.temporary), ec);
    output.temporary.clear();
    output.through = nullptr;
}

bool OutputWrite(const std::string& path, const std::vector<uint8_t>& data, std::string& error)
{
    InterruptsHold();
    PendingOutput output;
    bool ok = OutputStage(path, data, output, error);
    // A FIFO may wait for its reader: Ctrl-C must work while it does.
    if (ok && output.through) {
        InterruptsRelease();
        return OutputCommit(output, error);
    }
    if (ok && InterruptHeld()) {
        OutputDiscard(output);
        ok = false;
    }
    ok = ok && OutputCommit(output, error);
    InterruptsRelease();
    return ok;
}
