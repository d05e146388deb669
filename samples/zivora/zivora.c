/* The Zivora colour engine: palettes and a small particle field that the
   visualisation plugin draws with. A sample payload of the installer's demo. */
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define PALETTE_SIZE 256
#define MAX_PARTICLES 512

typedef struct {
    float x, y, dx, dy, life;
} Particle;

static unsigned int Palette[PALETTE_SIZE];
static Particle Particles[MAX_PARTICLES];
static unsigned int Seed = 12345u;

static float Random01(void)
{
    Seed = Seed * 1103515245u + 12345u;
    return (float)((Seed >> 8) & 0xFFFF) / 65535.0f;
}

__declspec(dllexport) void ZivoraPalette(float hue, float spread)
{
    for (int i = 0; i < PALETTE_SIZE; ++i) {
        const float t = (float)i / (PALETTE_SIZE - 1);
        const float h = fmodf(hue + spread * t, 1.0f) * 6.2831853f;
        const int r = (int)(127.5f + 127.5f * sinf(h) * t);
        const int g = (int)(127.5f + 127.5f * sinf(h + 2.0943951f) * t);
        const int b = (int)(127.5f + 127.5f * sinf(h + 4.1887902f) * t);
        Palette[i] = (unsigned)(r & 255) << 16 | (unsigned)(g & 255) << 8 | (unsigned)(b & 255);
    }
}

__declspec(dllexport) unsigned int ZivoraColour(int index)
{
    return Palette[index & (PALETTE_SIZE - 1)];
}

__declspec(dllexport) void ZivoraSpawn(float x, float y, float energy)
{
    for (int i = 0; i < MAX_PARTICLES; ++i) {
        if (Particles[i].life > 0.0f)
            continue;
        const float angle = Random01() * 6.2831853f;
        const float speed = energy * (0.5f + Random01());
        Particles[i].x = x;
        Particles[i].y = y;
        Particles[i].dx = cosf(angle) * speed;
        Particles[i].dy = sinf(angle) * speed;
        Particles[i].life = 1.0f;
        return;
    }
}

static int CompareLife(const void* a, const void* b)
{
    const float la = ((const Particle*)a)->life, lb = ((const Particle*)b)->life;
    return (la < lb) - (la > lb);
}

__declspec(dllexport) int ZivoraStep(float seconds, unsigned int* pixels, int width, int height)
{
    int alive = 0;
    for (int i = 0; i < MAX_PARTICLES; ++i) {
        Particle* p = &Particles[i];
        if (p->life <= 0.0f)
            continue;
        p->x += p->dx * seconds;
        p->y += p->dy * seconds;
        p->dy += 9.81f * seconds;
        p->life -= seconds * 0.5f;
        const int px = (int)p->x, py = (int)p->y;
        if (px >= 0 && py >= 0 && px < width && py < height)
            pixels[py * width + px] = ZivoraColour((int)(p->life * 255.0f));
        ++alive;
    }
    qsort(Particles, MAX_PARTICLES, sizeof(Particle), CompareLife);
    return alive;
}

__declspec(dllexport) int ZivoraDescribe(char* text, int size)
{
    return snprintf(text, (size_t)size, "Zivora colour engine 1.0 (%d colours, %d particles)",
                    PALETTE_SIZE, MAX_PARTICLES);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        ZivoraPalette(0.0f, 1.0f);
    return TRUE;
}
