// SPDX-License-Identifier: MIT
#include "dialog/preview.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "engine/file_stream.h"

#include <algorithm>
#include <utility>

namespace glitchwerk {

PreviewSource ReadPreviewSource(std::FILE* file, std::uint64_t length, const FileParts& parts,
                                std::uint64_t rangeStart, std::uint64_t rangeEnd) {
    PreviewSource source;
    const bool rom = parts.kind == FileKind::INes || parts.kind == FileKind::GameBoy ||
                     parts.kind == FileKind::Snes;
    source.image =
        parts.kind == FileKind::Jpeg || parts.kind == FileKind::Bmp || parts.kind == FileKind::Png;
    source.layout = parts.kind == FileKind::GameBoy ? TileLayout::GameBoy : TileLayout::Nes;
    if (source.image && length > kMostPreviewBytes)
        return source.why = messages::kPreviewTooLarge, source;
    const auto read = [&](std::uint64_t at, std::uint64_t end, std::vector<std::uint8_t>& bytes) {
        bytes.resize(static_cast<std::size_t>(end - at));
        std::size_t got = 0;
        if (!ReadAt(file, at, bytes.data(), bytes.size(), got))
            return false;
        bytes.resize(got); // a file shortened meanwhile gives what it still has
        return true;
    };
    const bool whole = !rom && length <= kMostPreviewBytes;
    if (whole && !read(0, length, source.file))
        return source.why = messages::kPreviewNotRead, source;
    if (source.image)
        return source;
    const FilePart* chr = parts.kind == FileKind::INes ? FindPart(parts, "chr") : nullptr;
    const std::uint64_t start = chr ? chr->start : rangeStart;
    std::uint64_t end = std::min(chr ? chr->end : rangeEnd, length);
    end = std::min(end, start + kMostTiles * kTileBytes);
    if (start >= end)
        return source;
    if (whole) {
        // Only what was read: the file may be shorter than it was measured.
        const std::uint64_t held = source.file.size();
        if (start < held) {
            source.tiles.assign(source.file.begin() + static_cast<std::ptrdiff_t>(start),
                                source.file.begin() +
                                    static_cast<std::ptrdiff_t>(std::min(end, held)));
        }
    } else if (!read(start, end, source.tiles)) {
        source.why = messages::kPreviewNotRead;
    }
    return source;
}

PreviewPicture DrawPreview(const PreviewSource& source, const ImageDecoder& decode) {
    if (!source.why.empty())
        return {0, 0, 1, {}, source.why};
    if (!source.file.empty() && decode) {
        if (std::optional<PreviewPicture> picture = decode(source.file))
            return std::move(*picture);
    }
    if (source.image)
        return {0, 0, 1, {}, messages::kPreviewNoImage};
    GreyImage tiles = DecodeTiles(source.tiles, source.layout);
    if (tiles.pixels.empty())
        return {0, 0, 1, {}, messages::kPreviewNoTiles};
    return {tiles.width, tiles.height, 1, std::move(tiles.pixels), {}};
}

void CPreview::Draw() {
    if (!m_context.IsOpen())
        return;
    const std::uint64_t number = ++*m_latest;
    // What the worker needs, as values: it never touches the run.
    const BackupStore& backup = m_context.run.Backup();
    const Original* original = m_context.run.OriginalIfRead();
    const Form form = m_context.dialog.ReadForm();
    auto picture = std::make_shared<PreviewPicture>();
    m_context.view->RunInBackground(
        [picture, latest = m_latest, number, path = backup.romPath, id = backup.romId,
         parts = original ? original->parts : FileParts{},
         start = std::uint64_t{ParseHexField(form.rangeStart)},
         end = std::uint64_t{ParseHexField(form.rangeEnd)},
         decode = m_context.view->PreviewDecoder()] {
            if (*latest != number)
                return;
            PreviewSource source;
            FileHandle file = OpenFile(path, OpenHow::Reading);
            FileFacts facts;
            if (!file || !ReadFacts(file.get(), facts) || facts.id != id || facts.length < 0)
                source.why = messages::kPreviewNotRead;
            else
                source = ReadPreviewSource(file.get(), static_cast<std::uint64_t>(facts.length),
                                           parts, start, end);
            file.reset();
            if (*latest == number)
                *picture = DrawPreview(source, decode);
        },
        [this, picture, number] {
            if (*m_latest == number && m_context.IsOpen())
                m_context.view->ShowPreview(*picture);
        });
}

} // namespace glitchwerk
