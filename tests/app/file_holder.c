/* Holds a file open without sharing, as another program of the user might
   while the installer runs: nobody else can open, truncate or replace it.

   Usage: file_holder PATH READY
   Opens (or creates) PATH with share mode 0, then creates the file READY to
   say so, and keeps PATH open until READY is deleted (at most two minutes,
   so that a test that dies cannot leave it behind for long). Exit code 0
   when it held the file, 1 when it could not open it. */
#include <windows.h>

#define HOLD_LIMIT_MS 120000
#define POLL_MS 50

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                               0, NULL);
    if (ready == INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        return 1;
    }
    /* Closed at once: the test deletes it to let go. */
    CloseHandle(ready);
    for (DWORD waited = 0; waited < HOLD_LIMIT_MS; waited += POLL_MS) {
        if (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(POLL_MS);
    }
    CloseHandle(held);
    return 0;
}
