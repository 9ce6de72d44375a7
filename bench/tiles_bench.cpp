// SPDX-License-Identifier: MIT
// 8 KiB of tiles (one NES CHR bank, 512 tiles) drawn in four greys, against
// memcpy of the same bytes; the target is absolute: within 10 ms.

#include "bench/figures.h"

#include "engine/tiles.h"

#include <cstring>
#include <random>
#include <vector>

namespace glitchwerk::bench {
namespace {

constexpr std::size_t kTileBank = 8 << 10;

const std::vector<std::uint8_t>& Bank() {
    static const std::vector<std::uint8_t> bank = [] {
        std::vector<std::uint8_t> bytes(kTileBank);
        std::mt19937 generator(18);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(generator());
        return bytes;
    }();
    return bank;
}

void DrawTiles(benchmark::State& state, TileLayout layout) {
    for (auto _ : state) {
        GreyImage image = DecodeTiles(Bank(), layout);
        benchmark::DoNotOptimize(image.pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kTileBank));
}

void CopyBank(benchmark::State& state) {
    std::vector<std::uint8_t> copy(kTileBank);
    for (auto _ : state) {
        std::memcpy(copy.data(), Bank().data(), kTileBank);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kTileBank));
}

} // namespace

void AddTileBenchmarks() {
    const std::string floor = "memcpy 8 KiB";
    AddFigure(floor, "", Target::None, CopyBank)->Repetitions(9);
    for (const auto& [name, layout] :
         {std::pair{"DecodeTiles 8 KiB NES", TileLayout::Nes},
          std::pair{"DecodeTiles 8 KiB Game Boy", TileLayout::GameBoy}}) {
        AddFigure(name, floor, Target::TilesInTenMilliseconds,
                  [layout = layout](benchmark::State& state) { DrawTiles(state, layout); })
            ->Repetitions(9);
    }
}

} // namespace glitchwerk::bench
