// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"

#include "engine/backup_store.h"
#include "engine/file_stream.h"
#include "engine/range_rules.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <system_error>
#include <thread>
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

// The range of a step, lowered to the recorded length.
std::uint64_t RangeEnd(const CorruptionStep& step, std::uint32_t fileLength) {
    return std::min(step.endOffset, fileLength);
}
std::uint64_t RangeSize(const CorruptionStep& step, std::uint32_t fileLength) {
    const std::uint64_t end = RangeEnd(step, fileLength);
    return end > step.startOffset ? end - step.startOffset : 0;
}

bool ValidStep(const CorruptionStep& step, std::uint32_t fileLength) {
    const Spread spread = step.spread;
    if ((spread.kind == SpreadKind::EveryNth && spread.n == 0) ||
        (spread.kind == SpreadKind::Pick && spread.n > kMostPicked) ||
        spread.kind > SpreadKind::Pick || step.rule.searchMode > SearchMode::SearchAllBytes ||
        step.rule.replaceMode > ReplaceMode::ReplaceTilt)
        return false;
    const std::int64_t value = step.whole.value;
    switch (step.whole.kind) {
    case WholeRule::None: {
        const std::uint8_t by = step.rule.replaceValue;
        switch (step.rule.replaceMode) {
        case ReplaceMode::ReplaceRotateLeft:
            return by >= 1 && by <= 7;
        case ReplaceMode::ReplaceTilt:
            return by >= 1;
        default:
            return true;
        }
    }
    case WholeRule::Shift:
    case WholeRule::CopyFrom:
    case WholeRule::Reverse:
    case WholeRule::Swap:
    case WholeRule::Shuffle:
    case WholeRule::Smooth:
        break;
    default:
        return false;
    }
    // The range as a whole: every byte, each a hit.
    if (step.rule.searchMode != SearchMode::SearchAllBytes ||
        !(spread.kind == SpreadKind::Every ||
          (spread.kind == SpreadKind::EveryNth && spread.n == 1)))
        return false;
    switch (step.whole.kind) {
    case WholeRule::Shift:
        return true;
    case WholeRule::CopyFrom:
        return value >= 0;
    case WholeRule::Shuffle:
        if (value >= 1 &&
            RangeSize(step, fileLength) / static_cast<std::uint64_t>(value) > kMostShuffledBlocks)
            return false;
        [[fallthrough]];
    default:
        return value >= 1 && value <= kMostBlockBytes;
    }
}

bool Valid(const CorruptionRequest& request) {
    return std::ranges::all_of(request.steps, [&](const CorruptionStep& step) {
        return ValidStep(step, request.fileLength);
    });
}

// The kept ranges in order, overlapping and touching ones joined, empty ones
// left out.
std::vector<KeptRange> Joined(std::vector<KeptRange> kept) {
    std::erase_if(kept, [](const KeptRange& range) { return range.start >= range.end; });
    std::ranges::sort(kept, {}, &KeptRange::start);
    std::vector<KeptRange> joined;
    for (const KeptRange& range : kept) {
        if (!joined.empty() && range.start <= joined.back().end)
            joined.back().end = std::max(joined.back().end, range.end);
        else
            joined.push_back(range);
    }
    return joined;
}

// A shuffle holds its range in memory up to this size; a larger one moves
// block by block in the file.
constexpr std::uint64_t kMostHeldShuffle = 8 << 20;

// A pick compares this many keys at a time with the largest it holds.
constexpr std::int32_t kKeyBlock = 1024;

// A pick of at most kMostShared over all bytes of at least kSharedPick shares
// its keys with a second thread, which holds candidates of its own.
constexpr std::uint64_t kSharedPick = 1 << 20;
constexpr std::size_t kMostShared = 1 << 16;

// A pick rewrites its bytes in spans of at most this size.
constexpr std::uint64_t kRewriteSpan = 1 << 20;

// The candidates of a pick: once K were found, the K smallest (key, offset)
// so far and those below the largest of these since. When it is full, the K
// smallest are kept (a selection, linear in its size), and their largest key
// bounds the next. Each candidate costs about as little as a heap's largest
// would, and far less than a heap's insertion.
class Candidates {
  public:
    // Only keys at most `bound` count.
    Candidates(std::size_t n, std::uint64_t most, std::uint64_t bound = ~std::uint64_t{0})
        : n(n), room(n + std::min<std::size_t>(std::max<std::size_t>(n, 4096), 1 << 16)),
          bound(bound) {
        best.reserve(std::min<std::uint64_t>(room, most));
    }

    std::size_t Size() const { return best.size(); }

    // Takes the keys of the bytes at `offset` + matches[i] for i below
    // `count` (at `offset` + i without `matches`).
    void Collect(RandomStream first, std::uint64_t offset, const std::int32_t* matches,
                 std::int32_t count) {
        for (std::int32_t m = 0; m < count && n > 0; m += kKeyBlock) {
            const std::int32_t size = std::min(count - m, kKeyBlock);
            const std::int32_t below = PickKeysAtMost(
                first.seed, first.draw, matches ? offset : offset + static_cast<std::uint64_t>(m),
                matches ? matches + m : nullptr, size, bound, keys.data(), atMost.data());
            for (std::int32_t k = 0; k < below; ++k) {
                const std::int32_t i = atMost[k];
                if (keys[k] > bound) // lowered meanwhile
                    continue;
                best.emplace_back(
                    keys[k], offset + static_cast<std::uint64_t>(matches ? matches[m + i] : m + i));
                if (best.size() == room)
                    KeepSmallest();
            }
        }
    }

    void Merge(const Candidates& other) {
        for (const auto& pick : other.best) {
            best.push_back(pick);
            if (best.size() == room)
                KeepSmallest();
        }
    }

    // The offsets of the K smallest, ascending.
    std::vector<std::uint64_t> Chosen() {
        if (best.size() > n)
            KeepSmallest();
        std::vector<std::uint64_t> chosen(best.size());
        std::ranges::transform(best, chosen.begin(), [](const auto& pick) { return pick.second; });
        std::ranges::sort(chosen);
        return chosen;
    }

  private:
    void KeepSmallest() {
        std::ranges::nth_element(best, best.begin() + static_cast<std::ptrdiff_t>(n - 1));
        best.resize(n);
        bound = best.back().first;
    }

    std::size_t n;
    std::size_t room;
    std::uint64_t bound;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> best;
    std::array<std::uint64_t, kKeyBlock> keys{};
    std::array<std::int32_t, kKeyBlock> atMost{};
};

// A bound that at least K of `count` evenly spread 64-bit keys lie below
// but for a chance far below one in a million millions.
std::uint64_t LooseBound(std::size_t k, std::uint64_t count) {
    const double expected = static_cast<double>(k) + 8 * std::sqrt(static_cast<double>(k)) + 64;
    if (count == 0 || expected >= static_cast<double>(count))
        return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(std::ldexp(expected / static_cast<double>(count), 64));
}

struct Rewritten {
    bool done = true; // false when a read or write failed, the cause in LastFailure
    bool wrote = false;
};

// Rewrites the bytes at `chosen` (ascending), reading and writing the span of
// each group of them that fits in kRewriteSpan: a write costs far more per
// call than per byte, and the picked bytes of a large file lie a few KiB
// apart. Stops before the next span once `stop` is set; sets it on failure.
Rewritten RewriteBytes(std::FILE* file, std::span<const std::uint64_t> chosen, const ByteRule& rule,
                       RandomStream first, std::uint64_t start, std::atomic<bool>& stop) {
    Rewritten result;
    if (chosen.empty())
        return result;
    std::vector<std::uint8_t> spans(static_cast<std::size_t>(
        std::min<std::uint64_t>(kRewriteSpan, chosen.back() + 1 - chosen.front())));
    for (std::size_t i = 0; i < chosen.size() && !stop;) {
        const std::uint64_t from = chosen[i];
        std::size_t j = i;
        while (j < chosen.size() && chosen[j] - from < spans.size())
            ++j;
        const auto span = static_cast<std::size_t>(chosen[j - 1] + 1 - from);
        std::size_t got = 0;
        result.done = ReadAt(file, from, spans.data(), span, got);
        if (result.done && got != span) {
            SetFailure("the file became shorter while it was changed");
            result.done = false;
        }
        for (; result.done && i < j; ++i) {
            std::uint8_t& b = spans[chosen[i] - from];
            b = ReplacedByte(b, rule, {first.seed, first.draw + (chosen[i] - start)});
        }
        result.wrote = result.wrote || result.done;
        result.done = result.done && WriteAt(file, from, spans.data(), span);
        if (!result.done) {
            stop = true;
            break;
        }
    }
    return result;
}

struct Pass {
    std::FILE* file;
    const Progress& progress;
    std::vector<KeptRange> kept; // joined
    std::uint64_t done = 0;
    std::uint64_t total = 0; // the bytes of every step's range
    std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindowSize);
    std::vector<std::int32_t> matches{}; // of one window, for the sparse spreads
    std::vector<std::uint8_t> source{};  // the bytes a whole-range rule reads, as before the step
    bool failed = false;
    bool writing = false; // once a write was tried, the file may have changed

    std::int32_t* Matches() {
        matches.resize(kWindowSize);
        return matches.data();
    }

    // Calls `visit(from, to)` for each run of [from, to) that no kept range
    // covers, in order.
    template <class Visit>
    void EachUnkept(std::uint64_t from, std::uint64_t to, Visit visit) const {
        auto range = std::ranges::upper_bound(kept, from, {}, &KeptRange::end);
        for (; range != kept.end() && range->start < to && from < to; ++range) {
            if (range->start > from)
                visit(from, range->start);
            from = std::max(from, range->end);
        }
        if (from < to)
            visit(from, to);
    }

    // Whether a kept range reaches into [from, to).
    bool Keeps(std::uint64_t from, std::uint64_t to) const {
        const auto range = std::ranges::upper_bound(kept, from, {}, &KeptRange::end);
        return range != kept.end() && range->start < to;
    }

    // Puts back the kept bytes of [offset, offset + count) from `before`.
    void RestoreKept(std::uint64_t offset, std::size_t count, const std::uint8_t* before,
                     std::uint8_t* after) const {
        auto range = std::ranges::upper_bound(kept, offset, {}, &KeptRange::end);
        for (; range != kept.end() && range->start < offset + count; ++range) {
            const std::uint64_t from = std::max(range->start, offset) - offset;
            const std::uint64_t to = std::min<std::uint64_t>(range->end, offset + count) - offset;
            std::memcpy(after + from, before + from, static_cast<std::size_t>(to - from));
        }
    }

    // The matches of the window at `offset` outside the kept ranges, as
    // indices into it.
    std::int32_t UnkeptMatches(std::uint64_t offset, std::int32_t count, const ByteRule& rule) {
        std::int32_t* found = Matches();
        std::int32_t total = 0;
        EachUnkept(offset, offset + static_cast<std::uint64_t>(count),
                   [&](std::uint64_t from, std::uint64_t to) {
                       const auto skip = static_cast<std::int32_t>(from - offset);
                       const std::int32_t n =
                           FindMatches(window.data() + skip, static_cast<std::int32_t>(to - from),
                                       rule, found + total);
                       for (std::int32_t m = total; m < total + n; ++m)
                           found[m] += skip;
                       total += n;
                   });
        return total;
    }

    bool Read(std::uint64_t offset, std::uint8_t* into, std::size_t size, std::size_t& got) {
        failed = failed || !ReadAt(file, offset, into, size, got);
        return !failed;
    }
    bool Write(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
        writing = true;
        failed = failed || !WriteAt(file, offset, bytes, size);
        return !failed;
    }
    void Done(std::uint64_t bytes) {
        done += bytes;
        if (progress)
            progress(done, total);
    }

    // Reads the windows of [start, end) in turn and calls `visit(offset,
    // count)` on each; with `write`, writes each back after. The offset is
    // 64-bit so that stepping past the last window cannot wrap around.
    template <class Visit>
    void EachWindow(std::uint64_t start, std::uint64_t end, bool write, Visit visit) {
        for (std::uint64_t offset = start; offset < end; offset += kWindowSize) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, end - offset));
            // A file shortened since it was backed up gives a short read: only
            // the bytes that were read are corrupted and written back, so the
            // file is never extended with stale window contents.
            std::size_t got = 0;
            if (!Read(offset, window.data(), wanted, got) || got == 0)
                break;
            visit(offset, static_cast<std::int32_t>(got));
            if (write && !Write(offset, window.data(), got))
                break;
            done += got;
            if (got < wanted)
                break;
            if (progress)
                progress(done, total);
        }
    }

    // Rewrites the bytes at `chosen` (ascending). Over a few spans, the
    // second half is rewritten by a second thread, whose reads then run
    // beside the first half's writes.
    void Rewrite(const std::vector<std::uint64_t>& chosen, const ByteRule& rule, RandomStream first,
                 std::uint64_t start) {
        const std::span<const std::uint64_t> all(chosen);
        std::atomic<bool> stop = false;
        std::size_t half = all.size();
        Rewritten second;
        std::string secondCause;
        std::jthread helper;
        if (all.back() - all.front() >= 2 * kRewriteSpan) {
            half = all.size() / 2;
            try {
                helper = std::jthread([&] {
                    second = RewriteBytes(file, all.subspan(half), rule, first, start, stop);
                    if (!second.done)
                        secondCause = LastFailure();
                });
            } catch (const std::system_error&) { // no thread to be had: all here
                half = all.size();
            }
        }
        const Rewritten mine = RewriteBytes(file, all.first(half), rule, first, start, stop);
        if (helper.joinable())
            helper.join();
        writing = writing || mine.wrote || second.wrote;
        failed = failed || !mine.done || !second.done;
        if (mine.done && !second.done)
            SetFailure(secondCause);
    }

    // The K smallest (key, offset) of the range's matches, by offset.
    std::vector<std::uint64_t> Pick(const CorruptionStep& step, std::uint64_t start,
                                    std::uint64_t end, RandomStream first) {
        const std::size_t n = step.spread.n;
        const std::uint64_t size = end > start ? end - start : 0;
        Candidates candidates(n, size);
        // Where every byte matches, the keys depend on the offsets alone: the
        // file is not read to choose, only its length is asked. A large range
        // is shared with a second thread.
        if (step.rule.searchMode == SearchMode::SearchAllBytes && !Keeps(start, end)) {
            const std::int64_t length = StreamLength(file);
            if (length < 0) {
                failed = true;
                return {};
            }
            const std::uint64_t stop = std::min(end, static_cast<std::uint64_t>(length));
            const auto collect = [&](Candidates& into, std::uint64_t from, std::uint64_t to,
                                     bool report) {
                for (std::uint64_t offset = from; offset < to; offset += kWindowSize) {
                    const auto count = std::min<std::uint64_t>(kWindowSize, to - offset);
                    into.Collect(first, offset, nullptr, static_cast<std::int32_t>(count));
                    if (report)
                        Done(count);
                }
            };
            const std::uint64_t count = stop > start ? stop - start : 0;
            const bool shared = count >= kSharedPick && n <= kMostShared;
            const auto choose = [&](std::uint64_t bound, bool report) {
                candidates = Candidates(n, size, bound);
                std::uint64_t half = stop;
                Candidates second(n, shared ? size : 0, bound);
                std::jthread helper;
                if (shared) {
                    half = start + count / 2 / kWindowSize * kWindowSize;
                    try {
                        helper = std::jthread([&] { collect(second, half, stop, false); });
                    } catch (const std::system_error&) { // no thread to be had: all here
                        half = stop;
                    }
                }
                collect(candidates, start, half, report);
                if (helper.joinable()) {
                    helper.join();
                    candidates.Merge(second);
                    if (report)
                        Done(stop - half);
                }
            };
            // The keys are spread evenly: the K-th smallest of `count` lies
            // near K / count of the keys' range, and a bound well above it
            // spares most candidates. Should fewer than K keys lie below it,
            // all keys are taken again.
            const std::uint64_t bound = LooseBound(n, count);
            choose(bound, true);
            if (candidates.Size() < std::min<std::uint64_t>(n, count) && bound != ~std::uint64_t{0})
                choose(~std::uint64_t{0}, false);
        } else {
            EachWindow(start, end, false, [&](std::uint64_t offset, std::int32_t count) {
                // Every byte of a window that keeps none matches: no list of them.
                if (step.rule.searchMode == SearchMode::SearchAllBytes &&
                    !Keeps(offset, offset + static_cast<std::uint64_t>(count))) {
                    candidates.Collect(first, offset, nullptr, count);
                    return;
                }
                const std::int32_t found = UnkeptMatches(offset, count, step.rule); // lists them
                candidates.Collect(first, offset, matches.data(), found);
            });
        }
        return candidates.Chosen();
    }

    CorruptionResult Step(const CorruptionStep& step, std::uint32_t fileLength,
                          RandomStream& stream) {
        CorruptionResult result{0, -1, -1};
        const std::uint64_t start = step.startOffset;
        const std::uint64_t end = RangeEnd(step, fileLength);
        const RandomStream first = stream;
        const auto drawAt = [&](std::uint64_t offset) {
            return RandomStream{first.seed, first.draw + (offset - start)};
        };
        const ByteRule& rule = step.rule;
        const std::uint32_t n = step.spread.n;
        if (step.whole.kind != WholeRule::None) {
            result = Whole(step, start, end, fileLength, first);
        } else if (step.spread.kind == SpreadKind::Every ||
                   (step.spread.kind == SpreadKind::EveryNth && n == 1)) {
            EachWindow(start, end, true, [&](std::uint64_t offset, std::int32_t count) {
                EachUnkept(offset, offset + static_cast<std::uint64_t>(count),
                           [&](std::uint64_t from, std::uint64_t to) {
                               std::int32_t windowFirst = -1;
                               std::int32_t windowLast = -1;
                               const std::int32_t hits =
                                   ApplyByteRule(window.data() + (from - offset),
                                                 static_cast<std::int32_t>(to - from), rule,
                                                 drawAt(from), windowFirst, windowLast);
                               Record(result, from, hits, windowFirst, windowLast);
                           });
            });
        } else if (step.spread.kind == SpreadKind::EveryNth) {
            std::int64_t next = 0; // the index of the next hit among the window's matches
            EachWindow(start, end, true, [&](std::uint64_t offset, std::int32_t count) {
                const std::int32_t found = UnkeptMatches(offset, count, rule);
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
            const std::vector<std::uint64_t> chosen = Pick(step, start, end, first);
            if (!failed && !chosen.empty()) {
                Rewrite(chosen, rule, first, start);
                result = {static_cast<std::int32_t>(chosen.size()), FileOffset(chosen.front(), 0),
                          FileOffset(chosen.back(), 0)};
            }
        }
        // By the range as typed, lowered to the recorded length: never by the
        // bytes this file happened to hold, so that a replay draws the same.
        const bool draws =
            step.whole.kind == WholeRule::None
                ? DrawsPerByte(rule.replaceMode) || step.spread.kind == SpreadKind::Pick
                : step.whole.kind == WholeRule::Shuffle;
        if (draws)
            stream.draw += end > start ? end - start : 0;
        return result;
    }

    // A rule over the range as a whole: each window of the result computed
    // from the bytes before the step (`source`), the kept bytes put back, and
    // written. Only the bytes the file still holds are read and written.
    CorruptionResult Whole(const CorruptionStep& step, std::uint64_t start, std::uint64_t end,
                           std::uint32_t fileLength, RandomStream first) {
        CorruptionResult result{0, -1, -1};
        const std::int64_t length = StreamLength(file);
        if (length < 0) {
            failed = true;
            return result;
        }
        // The bytes the file holds, up to the recorded length.
        const std::uint64_t held =
            std::min<std::uint64_t>(fileLength, static_cast<std::uint64_t>(length));
        const std::uint64_t stop = std::min(end, held);
        if (stop <= start) {
            Done(end > start ? end - start : 0);
            return result;
        }
        const auto block = static_cast<std::size_t>(step.whole.value);
        switch (step.whole.kind) {
        case WholeRule::Shift:
            Moved(start, stop, held, step.whole.value);
            break;
        case WholeRule::CopyFrom:
            Moved(start, stop, held, step.whole.value - static_cast<std::int64_t>(start));
            break;
        case WholeRule::Reverse:
            Blockwise(start, stop, std::max<std::size_t>(1, kWindowSize / block) * block, 0,
                      [&](std::size_t count, std::size_t) {
                          ReverseBlocks(source.data(), window.data(), count, block);
                      });
            break;
        case WholeRule::Swap:
            Blockwise(start, stop, std::max<std::size_t>(1, kWindowSize / (2 * block)) * 2 * block,
                      0, [&](std::size_t count, std::size_t) {
                          SwapBlocks(source.data(), window.data(), count, block);
                      });
            break;
        case WholeRule::Smooth:
            Blockwise(start, stop, kWindowSize, block - 1,
                      [&](std::size_t count, std::size_t available) {
                          SmoothBytes(source.data(), window.data(), count, available, block);
                      });
            break;
        case WholeRule::Shuffle:
            Shuffle(start, end, stop, block, first);
            break;
        case WholeRule::None:
            break;
        }
        if (failed)
            return result;
        EachUnkept(start, stop, [&](std::uint64_t from, std::uint64_t to) {
            Record(result, from, static_cast<std::int32_t>(to - from), 0,
                   static_cast<std::int32_t>(to - from - 1));
        });
        Done(end - stop);
        return result;
    }

    // Windows of `span` bytes of [start, stop): each read with `ahead` bytes
    // more where the range has them into `source`, `compute(count, available)`
    // fills `window`, and the window is written.
    template <class Compute>
    void Blockwise(std::uint64_t start, std::uint64_t stop, std::size_t span, std::size_t ahead,
                   Compute compute) {
        window.resize(std::max<std::size_t>(span, kWindowSize));
        source.resize(span + ahead);
        for (std::uint64_t offset = start; offset < stop && !failed; offset += span) {
            const auto count =
                static_cast<std::size_t>(std::min<std::uint64_t>(span, stop - offset));
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(span + ahead, stop - offset));
            std::size_t got = 0;
            if (!Read(offset, source.data(), wanted, got))
                return;
            if (got < wanted) { // shortened meanwhile
                failed = true;
                SetFailure("the file became shorter while it was changed");
                return;
            }
            compute(count, got);
            RestoreKept(offset, count, source.data(), window.data());
            if (!Write(offset, window.data(), count))
                return;
            Done(count);
        }
    }

    // The byte at o takes the byte at o + delta where that is below `held`,
    // else it stays. Windows run away from the sources, so that each source
    // is read before it is written.
    void Moved(std::uint64_t start, std::uint64_t stop, std::uint64_t held, std::int64_t delta) {
        const auto size = static_cast<std::int64_t>(held);
        window.resize(kWindowSize);
        source.resize(kWindowSize);
        const std::uint64_t windows = (stop - start + kWindowSize - 1) / kWindowSize;
        for (std::uint64_t w = 0; w < windows && !failed; ++w) {
            const std::uint64_t offset = start + (delta < 0 ? windows - 1 - w : w) * kWindowSize;
            const auto count =
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, stop - offset));
            std::size_t got = 0;
            if (!Read(offset, window.data(), count, got))
                return;
            if (got < count) {
                failed = true;
                SetFailure("the file became shorter while it was changed");
                return;
            }
            std::memcpy(source.data(), window.data(), count);
            // The sources of the window inside [0, held), when delta is not
            // so large that none are.
            if (delta < size && delta > -size) {
                const std::int64_t first =
                    std::max<std::int64_t>(static_cast<std::int64_t>(offset) + delta, 0);
                const std::int64_t last =
                    std::min<std::int64_t>(static_cast<std::int64_t>(offset + count) + delta, size);
                if (first < last) {
                    const auto into =
                        static_cast<std::size_t>(first - delta - static_cast<std::int64_t>(offset));
                    const auto wanted = static_cast<std::size_t>(last - first);
                    if (!Read(static_cast<std::uint64_t>(first), window.data() + into, wanted, got))
                        return;
                    if (got < wanted) {
                        failed = true;
                        SetFailure("the file became shorter while it was changed");
                        return;
                    }
                }
            }
            RestoreKept(offset, count, source.data(), window.data());
            if (!Write(offset, window.data(), count))
                return;
            Done(count);
        }
    }

    // The whole blocks of [start, end) shuffled. Its blocks move anywhere
    // in the range: a range the file no longer holds whole is not shuffled.
    void Shuffle(std::uint64_t start, std::uint64_t end, std::uint64_t stop, std::size_t block,
                 RandomStream first) {
        if (stop < end) {
            failed = true;
            SetFailure("the file became shorter than the range to shuffle");
            return;
        }
        const auto blocks = static_cast<std::uint32_t>((end - start) / block);
        const std::uint64_t size = end - start;
        if (size <= kMostHeldShuffle) {
            const auto count = static_cast<std::size_t>(size);
            source.resize(count);
            window.resize(std::max<std::size_t>(count, kWindowSize));
            std::size_t got = 0;
            if (!Read(start, source.data(), count, got))
                return;
            if (got < count) {
                failed = true;
                SetFailure("the file became shorter while it was changed");
                return;
            }
            ShuffleBlocks(source.data(), window.data(), block, blocks, first);
            const std::size_t whole = std::size_t{blocks} * block;
            std::memcpy(window.data() + whole, source.data() + whole, count - whole);
            RestoreKept(start, count, source.data(), window.data());
            if (Write(start, window.data(), count))
                Done(count);
            return;
        }
        // Cycle by cycle: block p takes block order[p], read just before its
        // own bytes are written over.
        const std::vector<std::uint32_t> order = ShuffledBlocks(blocks, first);
        std::vector<bool> moved(blocks);
        std::vector<std::uint8_t> next(block);
        source.resize(block); // the current position's bytes before the step
        window.resize(std::max(block, std::size_t{kWindowSize}));
        std::vector<std::uint8_t> cycleStart(block);
        const auto at = [&](std::uint32_t p) { return start + std::uint64_t{p} * block; };
        const auto readBlock = [&](std::uint32_t p, std::uint8_t* into) {
            std::size_t got = 0;
            if (Read(at(p), into, block, got) && got < block) {
                failed = true;
                SetFailure("the file became shorter while it was changed");
            }
            return !failed;
        };
        for (std::uint32_t p0 = 0; p0 < blocks && !failed; ++p0) {
            if (moved[p0] || order[p0] == p0)
                continue;
            if (!readBlock(p0, cycleStart.data()))
                return;
            std::memcpy(source.data(), cycleStart.data(), block);
            for (std::uint32_t p = p0; !moved[p];) {
                const std::uint32_t from = order[p];
                if (from == p0)
                    std::memcpy(next.data(), cycleStart.data(), block);
                else if (!readBlock(from, next.data()))
                    return;
                std::memcpy(window.data(), next.data(), block);
                RestoreKept(at(p), block, source.data(), window.data());
                if (!Write(at(p), window.data(), block))
                    return;
                moved[p] = true;
                source.swap(next);
                p = from;
            }
        }
        Done(size);
    }
};

// With `closing`, the file is closed at the end, else flushed.
PassOutcome Corrupt(std::FILE* file, const CorruptionRequest& request, RandomStream& stream,
                    std::vector<CorruptionResult>& results, const Progress& progress,
                    FileHandle* closing = nullptr) {
    // The pass reads and writes whole windows at their offsets itself, past
    // the stream: nothing may wait in a stream buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);

    Pass pass{file, progress, Joined(request.kept)};
    for (const CorruptionStep& step : request.steps)
        pass.total += RangeSize(step, request.fileLength);
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
