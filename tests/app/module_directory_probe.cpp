// Runs the installer's start-up and writes the module directory it found to
// the file named on the command line.
#include <windows.h>

#include "app/installer_state.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    if (argc < 2 || !InstallerStartup(GetModuleHandleA(nullptr)))
        return 1;
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, InstallerState.ModuleDirectory, lstrlenA(InstallerState.ModuleDirectory), &written,
              nullptr);
    CloseHandle(file);
    InstallerShutdown();
    return 0;
}
