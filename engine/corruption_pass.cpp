// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"

#include "engine/backup_store.h"
#include "engine/file_stream.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace glitchwerk {
namespace {

// The file offset of a byte in the window at `windowOffset`, in the signed
// 32-bit form of the results (offsets of 2 GiB and more wrap around).
std::int32_t FileOffset(std::uint64_t windowOffset, std::int32_t index) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(windowOffset) +
                                     static_cast<std::uint32_t>(index));
}

void Record(CorruptionResult& result, std::uint64_t windowOffset, std::int32_t hits,
            std::int32_t first, std::int32_t last) {
    if (hits == 0)
        return;
    result.totalBytes += hits;
    if (result.firstByte == -1)
        result.firstByte = FileOffset(windowOffset, first);
    result.lastByte = FileOffset(windowOffset, last);
}

bool Valid(const CorruptionRequest& request) {
    return std::ranges::none_of(request.steps, [](const CorruptionStep& step) {
        return (step.spread.kind == SpreadKind::EveryNth && step.spread.n == 0) ||
               (step.spread.kind == SpreadKind::Pick && step.spread.n > kMostPicked);
    });
}

struct Pass {
    std::FILE* file;
    const Progress& progress;
    std::uint64_t done = 0;
    std::uint64_t total = 0; // the bytes of every step's range
    std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindowSize);
    std::vector<std::int32_t> matches{}; // of one window, for the sparse spreads
    bool failed = false;
    bool writing = false; // once a write was tried, the file may have changed

    std::int32_t* Matches() {
        matches.resize(kWindowSize);
        return matches.data();
    }

    // Reads the windows of [start, end) in turn and calls `visit(offset,
    // count)` on each; with `write`, writes each back after. The offset is
    // 64-bit so that stepping past the last window cannot wrap around.
    template <class Visit>
    void EachWindow(std::uint64_t start, std::uint64_t end, bool write, Visit visit) {
        for (std::uint64_t offset = start; offset < end; offset += kWindowSize) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, end - offset));
            if (!SeekTo(file, offset)) {
                failed = true;
                break;
            }
            // A file shortened since it was backed up gives a short read: only
            // the bytes that were read are corrupted and written back, so the
            // file is never extended with stale window contents.
            const std::size_t got = std::fread(window.data(), 1, wanted, file);
            if (got == 0) {
                failed = std::ferror(file) != 0;
                break;
            }
            visit(offset, static_cast<std::int32_t>(got));
            if (write) {
                if (!SeekTo(file, offset)) {
                    failed = true;
                    break;
                }
                writing = true;
                if (std::fwrite(window.data(), 1, got, file) != got) {
                    failed = true;
                    break;
                }
            }
            done += got;
            if (got < wanted)
                break;
            if (progress)
                progress(done, total);
        }
    }

    // Rewrites the bytes at `chosen` (ascending), reading and writing the
    // span of each group of them that fits in a window.
    void Rewrite(const std::vector<std::uint64_t>& chosen, const ByteRule& rule, RandomStream first,
                 std::uint64_t start) {
        for (std::size_t i = 0; i < chosen.size();) {
            const std::uint64_t from = chosen[i];
            std::size_t j = i;
            while (j < chosen.size() && chosen[j] - from < kWindowSize)
                ++j;
            const auto span = static_cast<std::size_t>(chosen[j - 1] + 1 - from);
            if (!SeekTo(file, from) || std::fread(window.data(), 1, span, file) != span ||
                !SeekTo(file, from)) {
                failed = true;
                return;
            }
            for (; i < j; ++i) {
                std::uint8_t& b = window[chosen[i] - from];
                b = ReplacedByte(b, rule, {first.seed, first.draw + (chosen[i] - start)});
            }
            writing = true;
            if (std::fwrite(window.data(), 1, span, file) != span) {
                failed = true;
                return;
            }
        }
    }

    CorruptionResult Step(const CorruptionStep& step, std::uint32_t fileLength,
                          RandomStream& stream) {
        CorruptionResult result{0, -1, -1};
        const std::uint64_t start = step.startOffset;
        const std::uint64_t end = std::min(step.endOffset, fileLength);
        const RandomStream first = stream;
        const auto drawAt = [&](std::uint64_t offset) {
            return RandomStream{first.seed, first.draw + (offset - start)};
        };
        const ByteRule& rule = step.rule;
        const std::uint32_t n = step.spread.n;
        if (step.spread.kind == SpreadKind::Every ||
            (step.spread.kind == SpreadKind::EveryNth && n == 1)) {
            EachWindow(start, end, true, [&](std::uint64_t offset, std::int32_t count) {
                std::int32_t windowFirst = -1;
                std::int32_t windowLast = -1;
                const std::int32_t hits = ApplyByteRule(window.data(), count, rule, drawAt(offset),
                                                        windowFirst, windowLast);
                Record(result, offset, hits, windowFirst, windowLast);
            });
        } else if (step.spread.kind == SpreadKind::EveryNth) {
            std::int64_t next = 0; // the index of the next hit among the window's matches
            EachWindow(start, end, true, [&](std::uint64_t offset, std::int32_t count) {
                std::int32_t* matches = Matches();
                const std::int32_t found = FindMatches(window.data(), count, rule, matches);
                std::int32_t hits = 0;
                std::int32_t windowFirst = -1;
                std::int32_t windowLast = -1;
                for (; next < found; next += n) {
                    const std::int32_t i = matches[next];
                    window[i] = ReplacedByte(window[i], rule, drawAt(offset + i));
                    windowFirst = hits++ ? windowFirst : i;
                    windowLast = i;
                }
                Record(result, offset, hits, windowFirst, windowLast);
                next -= found;
            });
        } else {
            // The K smallest (key, offset) so far, the largest on top.
            std::vector<std::pair<std::uint64_t, std::uint64_t>> heap;
            std::vector<std::uint64_t> keys;
            heap.reserve(std::min<std::uint64_t>(n, end > start ? end - start : 0));
            EachWindow(start, end, false, [&](std::uint64_t offset, std::int32_t count) {
                std::int32_t* matches = Matches();
                const std::int32_t found = FindMatches(window.data(), count, rule, matches);
                keys.resize(kWindowSize);
                PickKeys(first.seed, first.draw, offset, matches, found, keys.data());
                for (std::int32_t m = 0; m < found; ++m) {
                    if (heap.size() == n && (n == 0 || keys[m] > heap.front().first))
                        continue; // the common case, once the heap is full
                    const std::pair candidate{keys[m],
                                              offset + static_cast<std::uint64_t>(matches[m])};
                    if (heap.size() < n) {
                        heap.push_back(candidate);
                        std::ranges::push_heap(heap);
                    } else if (!heap.empty() && candidate < heap.front()) {
                        std::ranges::pop_heap(heap);
                        heap.back() = candidate;
                        std::ranges::push_heap(heap);
                    }
                }
            });
            std::vector<std::uint64_t> chosen(heap.size());
            std::ranges::transform(heap, chosen.begin(),
                                   [](const auto& pick) { return pick.second; });
            heap = {};
            std::ranges::sort(chosen);
            if (!failed && !chosen.empty()) {
                Rewrite(chosen, rule, first, start);
                result = {static_cast<std::int32_t>(chosen.size()), FileOffset(chosen.front(), 0),
                          FileOffset(chosen.back(), 0)};
            }
        }
        // By the range as typed, lowered to the recorded length: never by the
        // bytes this file happened to hold, so that a replay draws the same.
        if (DrawsPerByte(rule.replaceMode) || step.spread.kind == SpreadKind::Pick ||
            step.whole.kind == WholeRule::Shuffle)
            stream.draw += end > start ? end - start : 0;
        return result;
    }
};

// With `closing`, the file is closed at the end, else flushed.
PassOutcome Corrupt(std::FILE* file, const CorruptionRequest& request, RandomStream& stream,
                    std::vector<CorruptionResult>& results, const Progress& progress,
                    FileHandle* closing = nullptr) {
    // The pass reads and writes whole windows itself: a stream buffer would
    // only add a copy of each window, and split its write in two.
    std::setvbuf(file, nullptr, _IONBF, 0);

    Pass pass{file, progress};
    for (const CorruptionStep& step : request.steps) {
        const std::uint32_t end = std::min(step.endOffset, request.fileLength);
        pass.total += end > step.startOffset ? end - step.startOffset : 0;
    }
    results.clear();
    for (const CorruptionStep& step : request.steps) {
        results.push_back(pass.Step(step, request.fileLength, stream));
        if (pass.failed)
            break;
    }
    const bool readFailed = std::ferror(file) != 0;
    const bool closed = closing ? CloseStream(*closing) : std::fflush(file) == 0;
    if (closed && !pass.failed && !readFailed)
        return PassOutcome::Done;
    return pass.writing ? PassOutcome::Incomplete : PassOutcome::NotOpened;
}

} // namespace

bool RunCorruptionPass(const CorruptionRequest& request, RandomStream& stream,
                       std::vector<CorruptionResult>& results, const Progress& progress) {
    if (!Valid(request))
        return false;
    FileHandle file = OpenFile(request.path, OpenHow::Existing);
    FileFacts facts;
    return file && ReadFacts(file.get(), facts) && facts.regular &&
           Corrupt(file.get(), request, stream, results, progress, &file) == PassOutcome::Done;
}

PassOutcome RunCorruptionPass(BackupStore& store, const CorruptionRequest& request,
                              RandomStream& stream, std::vector<CorruptionResult>& results,
                              const Progress& progress) {
    if (!Valid(request))
        return PassOutcome::NotOpened;
    FileHandle file = OpenEditedFile(store, request.path);
    if (!file)
        return PassOutcome::NotOpened;
    return Corrupt(file.get(), request, stream, results, progress, &file);
}

PassOutcome RunCorruptionPass(std::FILE* file, const CorruptionRequest& request,
                              RandomStream& stream, std::vector<CorruptionResult>& results,
                              const Progress& progress) {
    if (!Valid(request))
        return PassOutcome::NotOpened;
    return Corrupt(file, request, stream, results, progress);
}

} // namespace glitchwerk
