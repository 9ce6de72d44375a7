// SPDX-License-Identifier: MIT
#pragma once
// The preview: the file as it is now, read and drawn on a worker thread after
// every command that changes it. An image the platform decodes, else the
// 2-bit tiles of the NES and the Game Boy.

#include "dialog/panel_context.h"
#include "engine/file_parts.h"
#include "engine/tiles.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace glitchwerk {

// The bytes a preview is drawn from.
struct PreviewSource {
    std::vector<std::uint8_t> file; // the whole file, when it may be an image
    bool image = false;             // its parts say it is one: a failure is shown
    std::vector<std::uint8_t> tiles;
    TileLayout layout = TileLayout::Nes;
    std::string why; // when nothing could be read
};

// The most of a file read for a preview, and of pixels an image may claim.
inline constexpr std::uint64_t kMostPreviewBytes = 64 << 20;
inline constexpr std::uint64_t kMostPreviewPixels = 64'000'000;

// The bytes of `file` (of `length` bytes when looked at, with the original's
// `parts`) that its preview needs, never more than could be read; `range` is
// the form's, for the tiles of other files.
PreviewSource ReadPreviewSource(std::FILE* file, std::uint64_t length, const FileParts& parts,
                                std::uint64_t rangeStart, std::uint64_t rangeEnd);
// An image when the platform decodes the file, else tiles.
PreviewPicture DrawPreview(const PreviewSource& source, const ImageDecoder& decode);

class CPreview {
  public:
    explicit CPreview(PanelContext& context) : m_context(context) {}

    // Reads and draws the file anew on a worker; what was in flight is dropped.
    void Draw();
    // What is read or drawn now is never shown: the file is about to change.
    void Drop() { ++*m_latest; }

  private:
    PanelContext& m_context;
    std::shared_ptr<std::atomic<std::uint64_t>> m_latest =
        std::make_shared<std::atomic<std::uint64_t>>(0);
};

} // namespace glitchwerk
