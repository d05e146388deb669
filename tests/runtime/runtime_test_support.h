// Helpers shared by the runtime service tests: a fixture that runs the real
// start-up and shutdown, and plain Win32 access to files beside the test
// executable, independent of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/installer_state.h"
#include "app/startup.h"

class RuntimeService : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr))); }
    void TearDown() override { InstallerShutdown(); }
};

// The executable's own directory, with its trailing backslash.
inline std::string ModuleDirectoryPath()
{
    return InstallerState.ModuleDirectory;
}

inline std::string CurrentDirectoryPath()
{
    char path[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
    std::string result(path, length);
    if (result.empty() || result.back() != '\\')
        result += '\\';
    return result;
}

// Somewhere that is not the executable's directory, to start from.
inline std::string ElsewhereDirectoryPath()
{
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::string result = path;
    if (result.back() != '\\')
        result += '\\';
    return result;
}

inline bool SamePath(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written) << path;
}

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Blocks in use in a heap, counted by walking the heap itself.
inline int HeapBusyBlocks(HANDLE heap)
{
    int busy = 0;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            ++busy;
    }
    HeapUnlock(heap);
    return busy;
}
