#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "preset/ZeltoPreset.h"

namespace zelto::test {

// A real compressed preset document named `name`. `noise` bytes of random
// text in an extra attribute make it about that large once compressed.
inline std::vector<std::uint8_t> presetBytes(const std::string& name, std::size_t noise = 0,
                                             unsigned seed = 1) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    preset.name = name;
    if (noise > 0) {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::mt19937 random(seed);
        std::string text(noise * 4 / 3, 'A');
        for (auto& c : text) c = alphabet[random() % 64];
        preset.setAttribute("notes", text);
    }
    return preset.toCompressedData();
}

}  // namespace zelto::test
