#include "packer/stub_locate.h"

#include <filesystem>

#include "packer/file_io.h"

namespace fs = std::filesystem;

namespace {

// Relative to qzpack's folder. The first is the install layout's, given by
// the build; the last two are build trees: the installer of the build qzpack
// belongs to, and that of the sibling Windows build for the native qzpack.
const char* const STUB_PLACES[] = {QZ_STUB_DIR_FROM_BIN, ".", "../app", "../../windows/app"};

}  // namespace

std::vector<std::string> StubCandidates(const std::string& home)
{
    std::vector<std::string> candidates;
    if (home.empty()) return candidates;
    for (const char* place : STUB_PLACES)
        candidates.push_back(PathToUtf8((PathFromUtf8(home) / place / STUB_NAME).lexically_normal()));
    return candidates;
}

std::string StubFind(const std::vector<std::string>& candidates)
{
    std::error_code ec;
    for (const std::string& candidate : candidates)
        if (fs::is_regular_file(PathForSystem(candidate), ec)) return candidate;
    return {};
}
