/* A planted DLL: when any process loads it, it appends its own path and the
   process's to "planted-dll-loaded.txt" beside itself. Built three times,
   under the names of DLLs that Windows would search the application's folder
   for. */
#include <windows.h>

static void Append(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, (DWORD)lstrlenA(text), &written, NULL);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char dll[MAX_PATH];
    char process[MAX_PATH];
    char marker[MAX_PATH + 32];
    GetModuleFileNameA(instance, dll, MAX_PATH);
    GetModuleFileNameA(NULL, process, MAX_PATH);
    lstrcpyA(marker, dll);
    char* slash = marker;
    for (char* p = marker; *p; ++p)
        if (*p == '\\')
            slash = p + 1;
    lstrcpyA(slash, "planted-dll-loaded.txt");
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        Append(file, dll);
        Append(file, " loaded by ");
        Append(file, process);
        Append(file, "\r\n");
        CloseHandle(file);
    }
    /* Refuse to stay loaded: a process that got this far has already lost,
       and failing here keeps the run from depending on the fake's exports. */
    return FALSE;
}
