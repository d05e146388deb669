// Writing qzpack's outputs without harming what the name stands for.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The name that stands for standard output.
constexpr const char* OUTPUT_STANDARD = "-";

bool OutputIsStandard(const std::string& path);

// False, with error saying why, when path is a file that its permissions
// keep from being written, unless force: it is then replaced all the same,
// keeping them.
bool OutputMayReplace(const std::string& path, bool force, std::string& error);

// One output on its way: written in full beside its place, then moved there.
struct PendingOutput {
    std::string path;       // where it goes: a link's target when path names a link
    std::string temporary;  // empty when written straight through
    const std::vector<uint8_t>* through = nullptr;
};

// Writes data beside path; "-" and what is not a regular file (a character
// device, a FIFO) are written at OutputCommit, straight through, never
// replaced. On failure error says why and nothing is left.
bool OutputStage(const std::string& path, const std::vector<uint8_t>& data, PendingOutput& output,
                 std::string& error);

// Puts a staged output in its place; on failure nothing is left of it.
bool OutputCommit(PendingOutput& output, std::string& error);

// Removes a staged output's temporary file.
void OutputDiscard(PendingOutput& output);

// Stages and commits one output with interrupts held: a Ctrl-C or a
// termination request while it is written ends qzpack without leaving the
// temporary file, and what was at path stays as it was.
bool OutputWrite(const std::string& path, const std::vector<uint8_t>& data, std::string& error);
