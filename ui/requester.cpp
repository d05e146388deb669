#include "ui/requester.h"

#include <shlobj.h>

#include "app/installer_state.h"

static const char SHELL_LIBRARY[] = "SHELL32.DLL";
static const char SHELL_BROWSE[] = "SHBrowseForFolder";
static const char SHELL_PATH[] = "SHGetPathFromIDList";

// BIF_EDITBOX + BIF_NEWDIALOGSTYLE. BIF_RETURNONLYFSDIRS stays off, so OK is
// also offered on virtual folders.
constexpr UINT BROWSE_FLAGS = 0x50;

// A drive root such as "D:\" is the shortest path whose backslash must stay.
constexpr uint32_t DRIVE_ROOT_LENGTH = 3;

using BrowseFunction = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOA);
using PathFunction = BOOL(WINAPI*)(LPCITEMIDLIST, LPSTR);

template <typename Function> static Function ShellFunction(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

void RequestInitialPath(const char* initial, char buffer[REQUEST_INITIAL_PATH_SIZE])
{
    buffer[0] = '\0';
    if (!initial)
        return;
    uint32_t length = 0;
    while (initial[length] != '\0') {
        if (length == REQUEST_INITIAL_PATH_SIZE - 1) {
            buffer[0] = '\0';
            return;
        }
        buffer[length] = initial[length];
        ++length;
    }
    if (length > DRIVE_ROOT_LENGTH && buffer[length - 1] == '\\')
        --length;
    buffer[length] = '\0';
}

int CALLBACK BrowseInitCallback(HWND window, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED && data != 0)
        SendMessageA(window, BFFM_SETSELECTIONA, WPARAM(-1), data);
    return 0;
}

// Writes the path of the confirmed item at WorkspacePosition, with one
// trailing backslash. An item without a file-system path writes nothing: the
// shell's result says so, and its buffer is not to be trusted then.
static void RequestPathWrite(HMODULE library, LPITEMIDLIST item)
{
    const PathFunction path = ShellFunction<PathFunction>(library, SHELL_PATH);
    char* position = InstallerState.WorkspacePosition;
    if (path && path(item, position)) {
        while (*position != '\0')
            ++position;
        if (position != InstallerState.WorkspacePosition && position[-1] != '\\')
            *position++ = '\\';
        InstallerState.WorkspacePosition = position;
    }
    GlobalFree(item);
}

char* RequestDirectory(const char* title, const char* initial, char* start)
{
    InstallerState.WorkspacePosition = start;
    const HMODULE library = LoadLibraryA(SHELL_LIBRARY);
    if (library) {
        char initialPath[REQUEST_INITIAL_PATH_SIZE];
        RequestInitialPath(initial, initialPath);
        BROWSEINFOA browse = {};
        browse.hwndOwner = OwnerWindow();
        browse.lpszTitle = title;
        browse.ulFlags = BROWSE_FLAGS;
        browse.lpfn = BrowseInitCallback;
        browse.lParam = reinterpret_cast<LPARAM>(initialPath);
        const BrowseFunction browseForFolder = ShellFunction<BrowseFunction>(library, SHELL_BROWSE);
        const LPITEMIDLIST item = browseForFolder ? browseForFolder(&browse) : nullptr;
        if (item)
            RequestPathWrite(library, item);
        FreeLibrary(library);
    }
    *InstallerState.WorkspacePosition = '\0';
    return start;
}

int32_t RequestMessage(const char* title, const char* text)
{
    return MessageBoxA(OwnerWindow(), text, title, MB_OK);
}

int32_t RequestWarning(const char* title, const char* text)
{
    return MessageBoxA(OwnerWindow(), text, title, MB_OK | MB_ICONWARNING);
}

HWND OwnerWindow()
{
    const HWND foreground = GetForegroundWindow();
    if (!foreground)
        return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}
