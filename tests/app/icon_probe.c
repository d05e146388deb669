/* Loads the installer's icon from its executable the way Windows does for its
   windows and for Explorer, and draws it on a white and on a black ground:
   pixels that come out the same on both are opaque, pixels that follow the
   ground are transparent. The icon is stored compressed (PNG) to keep the
   installer small; this is the check that Windows still decodes it to the
   picture it was, in the size the window class asks for.

   Usage: icon_probe INSTALLER OPAQUE
   Exit code 0 when the icon loads as 32 by 32 with exactly OPAQUE opaque
   pixels, 1 when it does not (what it found goes to standard output). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#define ICON_ID 1
#define ICON_SIZE 32
#define PIXELS (ICON_SIZE * ICON_SIZE)

/* Draws the icon on a ground of one colour; the pixels land in `pixels`. */
static int DrawOn(HICON icon, DWORD ground, DWORD* pixels)
{
    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = ICON_SIZE;
    info.bmiHeader.biHeight = -ICON_SIZE;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (dc == NULL || bitmap == NULL)
        return 0;
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int i = 0; i < PIXELS; ++i)
        ((DWORD*)bits)[i] = ground;
    const BOOL drawn = DrawIconEx(dc, 0, 0, icon, ICON_SIZE, ICON_SIZE, 0, NULL, DI_NORMAL);
    GdiFlush();
    for (int i = 0; i < PIXELS; ++i)
        pixels[i] = ((DWORD*)bits)[i] & 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return drawn;
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HMODULE installer = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (installer == NULL) {
        printf("cannot open %s as a module\n", argv[1]);
        return 1;
    }
    HICON icon = (HICON)LoadImageA(installer, MAKEINTRESOURCEA(ICON_ID), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    if (icon == NULL) {
        printf("icon %d does not load (error %lu)\n", ICON_ID, GetLastError());
        return 1;
    }
    ICONINFO parts;
    BITMAP mask;
    if (!GetIconInfo(icon, &parts) || !GetObjectA(parts.hbmMask, sizeof mask, &mask)) {
        printf("icon %d has no bitmaps\n", ICON_ID);
        return 1;
    }
    static DWORD onWhite[PIXELS], onBlack[PIXELS];
    if (!DrawOn(icon, 0xFFFFFF, onWhite) || !DrawOn(icon, 0x000000, onBlack)) {
        printf("icon %d cannot be drawn\n", ICON_ID);
        return 1;
    }
    int opaque = 0;
    for (int i = 0; i < PIXELS; ++i)
        opaque += onWhite[i] == onBlack[i];
    printf("icon %d: %ld pixels wide, %d opaque pixels\n", ICON_ID, mask.bmWidth, opaque);
    return mask.bmWidth == ICON_SIZE && opaque == atoi(argv[2]) ? 0 : 1;
}
