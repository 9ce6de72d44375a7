// SPDX-License-Identifier: MIT
#pragma once
// A picture written as PNG: through libpng on Linux, the Windows Imaging
// Component on Windows.

#include <cstdint>
#include <cstdio>
#include <span>

namespace glitchwerk {

// Writes `width` x `height` pixels of R, G, B bytes, rows top to bottom, to
// the stream. False, with the cause in LastFailure(), when it could not.
bool WritePng(std::FILE* file, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> rgb);

} // namespace glitchwerk
