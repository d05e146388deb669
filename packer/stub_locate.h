// Where qzpack finds the installer stub when `build` is given no --stub.
#pragma once

#include <string>
#include <vector>

constexpr const char* STUB_NAME = "installer.exe";

// The places looked at, in order, for a qzpack that runs from folder home:
// the stub of its own installation (PREFIX/share/qzpack for PREFIX/bin, so a
// package unpacked anywhere finds its own), the one beside it, then those of
// the build tree it was built in.
std::vector<std::string> StubCandidates(const std::string& home);

// The first candidate that is a file, or the empty string.
std::string StubFind(const std::vector<std::string>& candidates);
