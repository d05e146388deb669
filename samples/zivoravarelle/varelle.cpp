// The Varelle visualisation plugin: turns a spectrum into bars and a named
// preset's colours. A sample payload of the installer's demo.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

struct Preset {
    std::string name;
    float hue;
    float decay;
    int bars;
};

std::map<std::string, Preset> Presets;
std::vector<float> Levels;
std::string LastDescription;

void AddPreset(const std::string& name, float hue, float decay, int bars)
{
    Presets[name] = Preset{name, hue, decay, bars};
}

const Preset& Current(const std::string& name)
{
    const auto found = Presets.find(name);
    return found != Presets.end() ? found->second : Presets.begin()->second;
}

} // namespace

extern "C" __declspec(dllexport) int VarelleInit()
{
    AddPreset("Aurora", 0.45f, 0.92f, 32);
    AddPreset("Ember", 0.02f, 0.85f, 48);
    AddPreset("Tide", 0.60f, 0.95f, 64);
    AddPreset("Zivora", 0.80f, 0.90f, 24);
    Levels.assign(64, 0.0f);
    return int(Presets.size());
}

extern "C" __declspec(dllexport) int VarelleRender(const char* preset, const unsigned char* spectrum,
                                                   int length, unsigned int* pixels, int width, int height)
{
    if (Presets.empty() || !spectrum || length <= 0 || !pixels)
        return 0;
    const Preset& p = Current(preset ? preset : "");
    const int bars = std::min(p.bars, int(Levels.size()));
    std::vector<float> target(size_t(bars), 0.0f);
    for (int i = 0; i < length; ++i)
        target[size_t(i * bars / length)] += spectrum[i] / 255.0f;
    for (int b = 0; b < bars; ++b) {
        const float value = std::sqrt(target[size_t(b)] * bars / float(length));
        Levels[size_t(b)] = std::max(value, Levels[size_t(b)] * p.decay);
    }
    const int barWidth = std::max(1, width / std::max(1, bars));
    for (int b = 0; b < bars; ++b) {
        const int top = height - int(Levels[size_t(b)] * float(height));
        const float h = std::fmod(p.hue + float(b) / float(bars) * 0.3f, 1.0f) * 6.2831853f;
        const unsigned colour = unsigned(127 + 127 * std::sin(h)) << 16 |
                                unsigned(127 + 127 * std::sin(h + 2.1f)) << 8 |
                                unsigned(127 + 127 * std::sin(h + 4.2f));
        for (int y = std::max(0, top); y < height; ++y)
            std::fill_n(pixels + y * width + b * barWidth, std::min(barWidth, width - b * barWidth), colour);
    }
    return bars;
}

extern "C" __declspec(dllexport) const char* VarelleDescribe()
{
    std::string text = "Varelle visualisation 1.0, presets:";
    std::vector<std::string> names;
    for (const auto& entry : Presets)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        text += " " + name + " (" + std::to_string(Presets[name].bars) + " bars)";
    LastDescription = text;
    return LastDescription.c_str();
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
