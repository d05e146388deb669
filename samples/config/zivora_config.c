/* Shows where Zivora Varelle was installed, as the installer recorded it. A
   sample payload of the installer's demo. */
#include <windows.h>

#define KEY_PATH "SOFTWARE\\Morvend Software\\Zivora Varelle\\"
#define VALUE_NAME "WinAmpDir"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;
    char directory[MAX_PATH] = "";
    DWORD size = sizeof directory - 1;
    HKEY key;
    char text[MAX_PATH + 100];
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_PATH, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0;
        if (RegQueryValueExA(key, VALUE_NAME, NULL, &type, (BYTE*)directory, &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            directory[0] = '\0';
        RegCloseKey(key);
    }
    if (directory[0] == '\0')
        lstrcpyA(text, "Zivora Varelle is not installed: no " VALUE_NAME " value was found.");
    else
        wsprintfA(text, "Zivora Varelle is installed in\n%s", directory);
    MessageBoxA(NULL, text, "Zivora Varelle configuration", MB_OK | MB_ICONINFORMATION);
    return directory[0] == '\0';
}
