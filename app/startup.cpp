#include "app/startup.h"

#include "app/installer_state.h"
#include "app/main_window.h"
#include "pack/pack_reader.h"
#include "runtime/files.h"
#include "runtime/memory.h"
#include "ui/gadget.h"
#include "ui/window.h"

const char* CommandLineSkipProgramName(const char* line)
{
    const char* p = line;
    if (*p == '"') {
        const char* close = p + 1;
        while (*close != '\0' && *close != '"')
            ++close;
        if (*close != '"')
            return line;
        p = close + 1;
    } else {
        while (*p != '\0' && *p != ' ')
            ++p;
    }
    // Only the blank separates: a tab belongs to the arguments.
    while (*p == ' ')
        ++p;
    return p;
}

void ModuleDirectoryCut(char* path)
{
    char* cut = path;
    for (char* p = path; *p != '\0'; ++p) {
        if (*p == '\\')
            cut = p + 1;
    }
    *cut = '\0';
}

static void ModuleDirectoryFind()
{
    char* const buffer = InstallerState.ModuleDirectory;
    GetModuleFileNameA(InstallerState.Instance, buffer, MODULE_DIRECTORY_SIZE);
    // Older systems leave a path that fills the buffer unterminated.
    buffer[MODULE_DIRECTORY_SIZE - 1] = '\0';
    ModuleDirectoryCut(buffer);
}

int InstallerStartup(HINSTANCE instance)
{
    char* const state = reinterpret_cast<char*>(&InstallerState);
    for (unsigned i = 0; i < sizeof InstallerState; ++i)
        state[i] = 0;
    InstallerState.Instance = instance;

    InstallerState.RuntimeHeap = HeapCreate(0, RUNTIME_HEAP_INITIAL_SIZE, 0);
    if (!InstallerState.RuntimeHeap)
        return 0;
    ModuleDirectoryFind();

    // Every service takes its table from the runtime heap.
    WindowInit();
    FileInit();
    GadgetInit();
    MemoryInit();

    char* const workspace = static_cast<char*>(
        HeapAlloc(InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY, STRING_WORKSPACE_SIZE));
    if (!workspace)
        return 0;
    InstallerState.WorkspacePosition = workspace;
    return 1;
}

void InstallerShutdown()
{
    // The runtime heap goes last, taking every table and string value with it.
    WindowCloseAll();
    FileEnd();
    MemoryEnd();
    PackClose();
    if (InstallerState.RuntimeHeap)
        HeapDestroy(InstallerState.RuntimeHeap);
    InstallerState.RuntimeHeap = nullptr;
}

void InstallerMain(HINSTANCE instance, HINSTANCE, const char*, int)
{
    // Without the heap nothing can be shown, and without its window the loop
    // would wait for events that never come: either failure is told by the
    // exit code. The start-up cleared the state first, the code included.
    if (InstallerStartup(instance) && OpenMainWindow())
        MainLoop();
    else
        InstallerState.ExitCode = 1;
    InstallerShutdown();
    ExitProcess(UINT(InstallerState.ExitCode));
}
