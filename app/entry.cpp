// The process entry. The installer carries no C runtime start-up of its own:
// the system calls this function directly.
#include <windows.h>

#include "app/startup.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR directory);

// The installer runs elevated from folders anyone can write to, such as a
// browser's downloads: a DLL planted there must never be loaded, neither by
// our own later loads nor by those system DLLs make on our behalf. Both
// functions are looked up because unpatched old systems lack them.
static void DllSearchRestrict()
{
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const SetDefaultDllDirectoriesFunction setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // The fallback at least takes the current folder out of the search.
    const SetDllDirectoryFunction setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory)
        setDirectory("");
}

// Named to the linker as the entry point: the one function of the installer
// that nothing in it calls, so the whole-program build must keep it.
extern "C" __attribute__((externally_visible)) void ProcessEntry()
{
    DllSearchRestrict();
    const char* const arguments = CommandLineSkipProgramName(GetCommandLineA());
    InstallerMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL);
}
