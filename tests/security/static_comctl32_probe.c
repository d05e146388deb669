/* The control of the planted-DLL test: a program that imports comctl32 the
   ordinary way, which Windows resolves from the application's folder first.
   It must pick up the planted DLL, or the test could not tell. */
#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;
    InitCommonControls();
    return 0;
}
