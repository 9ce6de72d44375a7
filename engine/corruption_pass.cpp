// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"

#include "engine/backup_store.h"
#include "engine/file_stream.h"

#include <algorithm>
#include <vector>

namespace glitchwerk {
namespace {

// The file offset of a byte in the window at `windowOffset`, in the signed
// 32-bit form of the results (offsets of 2 GiB and more wrap around).
std::int32_t FileOffset(std::uint64_t windowOffset, std::int32_t index) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(windowOffset) +
                                     static_cast<std::uint32_t>(index));
}

// With `closing`, the file is closed at the end, else flushed.
PassOutcome Corrupt(std::FILE* file, const CorruptionRequest& request, CorruptionResult& result,
                    const Progress& progress, FileHandle* closing = nullptr) {
    // The pass reads and writes whole windows itself: a stream buffer would
    // only add a copy of each window, and split its write in two.
    std::setvbuf(file, nullptr, _IONBF, 0);

    result = {0, -1, -1};
    const std::uint64_t end = std::min(request.endOffset, request.fileLength);
    std::vector<std::uint8_t> window(kWindowSize);
    bool ok = true;
    bool writing = false; // once a write was tried, the file may have changed
    // Windows are counted from the start offset. The loop offset is 64-bit so
    // that stepping past the last window cannot wrap around.
    for (std::uint64_t offset = request.startOffset; offset < end; offset += kWindowSize) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, end - offset));
        if (!SeekTo(file, offset)) {
            ok = false;
            break;
        }
        // A file shortened since it was backed up gives a short read: only the
        // bytes that were read are corrupted and written back, so the file is
        // never extended with stale window contents.
        const std::size_t got = std::fread(window.data(), 1, wanted, file);
        if (got == 0)
            break;
        if (!SeekTo(file, offset)) {
            ok = false;
            break;
        }

        std::int32_t windowFirst = -1;
        std::int32_t windowLast = -1;
        result.totalBytes += ApplyByteRule(window.data(), static_cast<std::int32_t>(got),
                                           request.rule, windowFirst, windowLast);
        writing = true;
        if (std::fwrite(window.data(), 1, got, file) != got) {
            ok = false;
            break;
        }
        if (result.firstByte == -1 && windowFirst != -1)
            result.firstByte = FileOffset(offset, windowFirst);
        if (windowLast != -1)
            result.lastByte = FileOffset(offset, windowLast);
        if (got < wanted)
            break;
        if (progress)
            progress(offset + got - request.startOffset, end - request.startOffset);
    }
    const bool readFailed = std::ferror(file) != 0;
    const bool closed = closing ? CloseStream(*closing) : std::fflush(file) == 0;
    if (closed && ok && !readFailed)
        return PassOutcome::Done;
    return writing ? PassOutcome::Incomplete : PassOutcome::NotOpened;
}

} // namespace

bool RunCorruptionPass(const CorruptionRequest& request, CorruptionResult& result,
                       const Progress& progress) {
    FileHandle file = OpenFile(request.path, OpenHow::Existing);
    FileFacts facts;
    return file && ReadFacts(file.get(), facts) && facts.regular &&
           Corrupt(file.get(), request, result, progress, &file) == PassOutcome::Done;
}

PassOutcome RunCorruptionPass(BackupStore& store, const CorruptionRequest& request,
                              CorruptionResult& result, const Progress& progress) {
    FileHandle file = OpenEditedFile(store, request.path);
    if (!file)
        return PassOutcome::NotOpened;
    return Corrupt(file.get(), request, result, progress, &file);
}

PassOutcome RunCorruptionPass(std::FILE* file, const CorruptionRequest& request,
                              CorruptionResult& result, const Progress& progress) {
    return Corrupt(file, request, result, progress);
}

} // namespace glitchwerk
