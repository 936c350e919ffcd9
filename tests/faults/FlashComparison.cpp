#include "FlashComparison.h"

#include "FirmwareImage.h"

#include <cstdio>
#include <fstream>
#include <iterator>

std::string FlashComparison::Difference(const std::vector<std::uint8_t>& flash,
                                        const std::vector<std::uint8_t>& sent) {
    if (flash.size() < sent.size())
        return "the flash holds " + std::to_string(flash.size()) + " bytes, the blocks sent " +
               std::to_string(sent.size());
    std::size_t first = sent.size();
    std::size_t count = 0;
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (flash[i] != sent[i])
            first = std::min(first, i), ++count;
    if (count == 0)
        return {};
    char text[160];
    std::snprintf(text, sizeof text,
                  "%zu bytes differ, first in block %zu at %zu: flash 0x%02X, image 0x%02X", count,
                  first / loader::FirmwareImage::kBlockSize, first % loader::FirmwareImage::kBlockSize,
                  flash[first], sent[first]);
    return text;
}

std::vector<std::uint8_t> FlashComparison::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
