// SPDX-License-Identifier: MIT
#include "engine/tiles.h"

#include <algorithm>

namespace glitchwerk {

GreyImage DecodeTiles(std::span<const std::uint8_t> bytes, TileLayout layout) {
    static constexpr std::uint8_t kGreys[] = {0xFF, 0xAA, 0x55, 0x00};
    const std::size_t tiles = std::min(bytes.size() / kTileBytes, kMostTiles);
    GreyImage image;
    if (tiles == 0)
        return image;
    image.width = kTilesPerRow * 8;
    image.height = static_cast<int>((tiles + kTilesPerRow - 1) / kTilesPerRow) * 8;
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height, kGreys[0]);
    // Where row r of a tile keeps its two planes.
    const std::size_t plane0 = layout == TileLayout::Nes ? 1 : 2;
    const std::size_t plane1 = layout == TileLayout::Nes ? 8 : 1;
    for (std::size_t tile = 0; tile < tiles; ++tile) {
        const std::uint8_t* source = bytes.data() + tile * kTileBytes;
        std::uint8_t* corner = image.pixels.data() + (tile / kTilesPerRow) * 8 * image.width +
                               (tile % kTilesPerRow) * 8;
        for (std::size_t row = 0; row < 8; ++row) {
            const unsigned low = source[row * plane0];
            const unsigned high = source[row * plane0 + plane1];
            std::uint8_t* pixel = corner + row * image.width;
            for (int x = 0; x < 8; ++x)
                pixel[x] = kGreys[((low >> (7 - x)) & 1) | (((high >> (7 - x)) & 1) << 1)];
        }
    }
    return image;
}

} // namespace glitchwerk
