// The test program's entry. Under Wine without a window manager, hiding or
// destroying a visible window that Wine hands to the window manager waits two
// seconds for a reply that never comes; this program's windows are therefore
// kept away from the window manager (a Wine setting of this executable only,
// read when the process starts: the first run records it and runs again).
#include <gtest/gtest.h>

#include <windows.h>

static const char APP_DEFAULTS_KEY[] = "Software\\Wine\\AppDefaults\\";
static const char X11_DRIVER_KEY[] = "\\X11 Driver";

// 1 when the setting had to be recorded now.
static int UnmanagedWindowsRecord()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\')
            name = p + 1;
    }
    char keyName[MAX_PATH + 64];
    lstrcpyA(keyName, APP_DEFAULTS_KEY);
    lstrcatA(keyName, name);
    lstrcatA(keyName, X11_DRIVER_KEY);
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, keyName, &key) != ERROR_SUCCESS)
        return 0;
    char value[4] = {};
    DWORD size = sizeof value;
    int recorded = 0;
    if (RegQueryValueExA(key, "Managed", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        value[0] != 'N') {
        recorded = RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2) ==
                   ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return recorded;
}

static int RunAgain()
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, GetCommandLineA(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

int main(int argc, char** argv)
{
    if (UnmanagedWindowsRecord())
        return RunAgain();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
