// The process entry. The installer carries no C runtime start-up of its own:
// the system calls this function directly.
#include <windows.h>

#include "app/startup.h"

extern "C" void ProcessEntry()
{
    const char* const arguments = CommandLineSkipProgramName(GetCommandLineA());
    InstallerMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL);
}
