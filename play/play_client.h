// SPDX-License-Identifier: MIT
#pragma once
// The caller's side of glitchwerk-play: a session that starts the helper,
// loads a ROM into a core there, runs frames and takes the last one back,
// each request bounded by its deadline. A helper that misses one, or ends,
// is ended (SIGKILL; its job on Windows) and the try reported as hung or
// crashed; the next Load starts a fresh helper. Glitchwerk's own processes
// never load a core. No toolkit: glitchwerk-cli uses it, and the window's
// panel from a worker thread of its own.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace glitchwerk::play {

// A frame: R, G, B bytes, rows top to bottom.
struct Frame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
};
// The frame's CRC-32, as zlib computes it, over its R, G, B bytes.
std::uint32_t FrameCrc32(const Frame& frame);

// One frame's joypad: the libretro joypad buttons, bit n for button id n.
enum Button : std::uint16_t {
    kB = 1 << 0,
    kY = 1 << 1,
    kSelect = 1 << 2,
    kStart = 1 << 3,
    kUp = 1 << 4,
    kDown = 1 << 5,
    kLeft = 1 << 6,
    kRight = 1 << 7,
    kA = 1 << 8,
    kX = 1 << 9,
};

enum class Outcome {
    Ran,     // loaded, or the frames run and the last one back
    Refused, // the core turned the ROM down
    Crashed, // the helper ended during the request (a crash, an abort, an exit)
    Hung,    // no answer within the deadline: the helper was ended
    Stopped, // Stop() ended the helper meanwhile
    Failed,  // no helper, a core that does not open, a request out of order
};

struct Result {
    Outcome outcome = Outcome::Failed;
    std::string detail;                  // Failed: why; Refused: the helper's words, if any
    std::chrono::milliseconds missed{0}; // Hung: the deadline that passed
    bool ok() const { return outcome == Outcome::Ran; }
};

// The most frames one request runs; Play splits longer runs.
inline constexpr std::uint32_t kMostFramesARequest = 600;

struct Deadlines {
    std::chrono::milliseconds start{5000};  // started until it says it is ready
    std::chrono::milliseconds load{5000};   // the ROM sent, the core opened and the game loaded
    std::chrono::milliseconds frames{1000}; // a Frames request: this, and
    std::chrono::milliseconds perFrame{10}; // this for each frame (600: 7 s)
    std::chrono::milliseconds quit{1000};   // to end by itself when recycled
};

struct SessionOptions {
    std::filesystem::path helper; // empty: FindHelper()
    Deadlines deadlines;
    // Cores grow over many loads: a fresh helper after this many.
    int loadsPerHelper = 32;
};

// glitchwerk-play beside the running program, else in the libexec folder
// of its installation (../libexec/glitchwerk from its bin folder); empty when
// neither is there.
std::filesystem::path FindHelper();

class Session {
  public:
    explicit Session(SessionOptions options = {});
    ~Session(); // ends the helper
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Boots `rom` (its file's name tells the core its kind) in the core at
    // `core`, from power-on. A helper of another core, one recycled, or none
    // yet is replaced by a fresh one first.
    Result Load(const std::filesystem::path& core, std::span<const std::uint8_t> rom,
                const std::string& name);
    // Runs one frame per joypad state (1 to kMostFramesARequest) and gives
    // the last frame.
    Result Frames(std::span<const std::uint16_t> joypad, Frame& frame);
    // From any thread: ends the helper now; a request under way returns
    // Stopped. The next Load starts afresh.
    void Stop();

    // What the cores wrote to stdout and stderr in this helper (its last
    // 64 KiB); gone with the helper.
    std::string Log() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// From power-on, `frames` frames with no input, in as many requests as
// they take: the picture of frame `frames`.
Result Play(Session& session, const std::filesystem::path& core, std::span<const std::uint8_t> rom,
            const std::string& name, std::uint32_t frames, Frame& frame);

} // namespace glitchwerk::play
