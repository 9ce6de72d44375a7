// SPDX-License-Identifier: MIT
#include "play/play_client.h"

#include "engine/crc32.h"
#include "play/channel.h"
#include "play/protocol.h"

#include <algorithm>
#include <fstream>
#include <mutex>

namespace glitchwerk::play {

namespace fs = std::filesystem;
using wire::Kind;

namespace {

#ifdef _WIN32
constexpr char kHelperName[] = "glitchwerk-play.exe";
#else
constexpr char kHelperName[] = "glitchwerk-play";
#endif
constexpr char kLogName[] = "core.log";
constexpr std::size_t kLogTail = 64 << 10;

std::string TextOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

bool IsProgram(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

} // namespace

std::uint32_t FrameCrc32(const Frame& frame) {
    return Crc32(0, frame.rgb.data(), frame.rgb.size());
}

fs::path FindHelper() {
    fs::path beside = ProgramFolder() / kHelperName;
    if (IsProgram(beside))
        return beside;
#ifdef GLITCHWERK_PLAY_LIBEXEC
    fs::path installed = ProgramFolder() / GLITCHWERK_PLAY_LIBEXEC / kHelperName;
    if (IsProgram(installed))
        return installed;
#endif
    return {};
}

struct Session::Impl {
    SessionOptions options;
    // Guards the helper's handles, which Stop() uses from any thread; the
    // thread of the requests alone reads and writes the channel.
    mutable std::mutex mutex;
    Child child;
    fs::path folder;
    bool busy = false;
    bool stopped = false;
    fs::path core;
    int loads = 0;
    bool loaded = false;

    // Ends the helper at once and forgets it and its folder; under the lock.
    void Discard() {
        if (child.Running()) {
            KillChild(child);
            ReapChild(child);
        }
        if (!folder.empty())
            RemoveFolder(folder);
        folder.clear();
        core.clear();
        loaded = false;
        loads = 0;
    }

    // A request begins and ends: Stop() meanwhile ends it.
    void Begin() {
        const std::lock_guard lock(mutex);
        busy = true;
        stopped = false;
    }
    // True when Stop() came meanwhile: whatever the request gave is gone.
    bool End() {
        const std::lock_guard lock(mutex);
        busy = false;
        if (stopped)
            Discard();
        return stopped;
    }

    // What a failed exchange means for the try: the helper is ended in any case.
    Result Lost(Io io, std::chrono::milliseconds deadline) {
        const std::lock_guard lock(mutex);
        Result result;
        if (stopped)
            result.outcome = Outcome::Stopped;
        else if (io == Io::TimedOut)
            result = {Outcome::Hung, "", deadline};
        else if (io == Io::Closed)
            result.outcome = Outcome::Crashed;
        else
            result.detail = "the channel to glitchwerk-play failed";
        Discard();
        return result;
    }

    // Sends a message and takes the answer's kind and payload.
    Io Exchange(const std::vector<std::uint8_t>& message, std::chrono::milliseconds deadline,
                Kind& kind, std::vector<std::uint8_t>& payload) {
        const Clock::time_point until = Clock::now() + deadline;
        if (!message.empty())
            if (const Io sent = SendAll(child, message.data(), message.size(), until);
                sent != Io::Done)
                return sent;
        std::uint8_t head[wire::kHeaderSize];
        if (const Io got = ReceiveAll(child, head, sizeof head, until); got != Io::Done)
            return got;
        const wire::Header header = wire::ReadHeader(head);
        if (header.size > wire::kMostPayload)
            return Io::Failed;
        kind = header.kind;
        payload.resize(header.size);
        return ReceiveAll(child, payload.data(), payload.size(), until);
    }

    // A fresh helper in a private folder of its own, ready once it says so.
    Result Start(const fs::path& forCore) {
        const fs::path helper = options.helper.empty() ? FindHelper() : options.helper;
        if (helper.empty())
            return {Outcome::Failed, "glitchwerk-play is not installed beside this program"};
        std::string reason;
        {
            const std::lock_guard lock(mutex);
            if (!MakePrivateFolder(folder, reason) ||
                !StartChild(helper, folder, folder / kLogName, child, reason)) {
                Discard();
                return {Outcome::Failed, "cannot start " + TextOf(helper) + ": " + reason};
            }
            core = forCore;
        }
        Kind kind{};
        std::vector<std::uint8_t> payload;
        const Io io = Exchange({}, options.deadlines.start, kind, payload);
        wire::Reader reader(payload);
        if (io == Io::Done && kind == Kind::Hello && reader.U32() == wire::kVersion)
            return {Outcome::Ran, ""};
        Result lost = Lost(io == Io::Done ? Io::Failed : io, options.deadlines.start);
        if (lost.outcome != Outcome::Stopped) {
            lost.outcome = Outcome::Failed;
            lost.detail = io == Io::Done && kind == Kind::Failed
                              ? "glitchwerk-play cannot run here: " + wire::Reader(payload).Text()
                              : "glitchwerk-play did not start";
        }
        return lost;
    }

    // Asks a helper to end by itself; ended after the deadline.
    void Retire() {
        wire::Writer quit(Kind::Quit);
        const auto& message = quit.Done();
        const Clock::time_point until = Clock::now() + options.deadlines.quit;
        if (SendAll(child, message.data(), message.size(), until) == Io::Done) {
            std::uint8_t left = 0;
            while (ReceiveAll(child, &left, 1, until) == Io::Done) {
            }
        }
        const std::lock_guard lock(mutex);
        Discard();
    }
};

Session::Session(SessionOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

Session::~Session() {
    const std::lock_guard lock(impl_->mutex);
    impl_->Discard();
}

Result Session::Load(const fs::path& core, std::span<const std::uint8_t> rom,
                     const std::string& name) {
    Impl& impl = *impl_;
    if (rom.size() > wire::kMostRom)
        return {Outcome::Failed, "too large to play (256 MiB at most)"};
    std::error_code error;
    const fs::path corePath = fs::absolute(core, error); // the helper works elsewhere
    impl.Begin();
    if (impl.child.Running() &&
        (impl.core != corePath || impl.loads >= impl.options.loadsPerHelper))
        impl.Retire();
    if (!impl.child.Running()) {
        if (Result started = impl.Start(corePath); !started.ok()) {
            impl.End();
            return started;
        }
    }
    wire::Writer request(Kind::Load);
    request.Text(TextOf(corePath));
    request.Text(name);
    request.Bytes(rom);
    Kind kind{};
    std::vector<std::uint8_t> payload;
    const Io io = impl.Exchange(request.Done(), impl.options.deadlines.load, kind, payload);
    Result result;
    if (io != Io::Done) {
        result = impl.Lost(io, impl.options.deadlines.load);
    } else if (kind == Kind::Loaded) {
        result.outcome = Outcome::Ran;
        impl.loaded = true;
        ++impl.loads;
    } else {
        result.outcome = kind == Kind::Refused ? Outcome::Refused : Outcome::Failed;
        result.detail = wire::Reader(payload).Text();
        impl.loaded = false;
        ++impl.loads;
    }
    if (impl.End())
        result = {Outcome::Stopped, ""};
    return result;
}

Result Session::Frames(std::span<const std::uint16_t> joypad, Frame& frame) {
    Impl& impl = *impl_;
    if (joypad.empty() || joypad.size() > kMostFramesARequest)
        return {Outcome::Failed, "1 to 600 frames a request"};
    impl.Begin();
    if (!impl.child.Running() || !impl.loaded) {
        impl.End();
        return {Outcome::Failed, "no game is loaded"};
    }
    wire::Writer request(Kind::Frames);
    request.U32(static_cast<std::uint32_t>(joypad.size()));
    for (const std::uint16_t state : joypad)
        request.U16(state);
    const auto deadline = impl.options.deadlines.frames +
                          impl.options.deadlines.perFrame * static_cast<int>(joypad.size());
    Kind kind{};
    std::vector<std::uint8_t> payload;
    const Io io = impl.Exchange(request.Done(), deadline, kind, payload);
    Result result;
    wire::Reader reader(payload);
    if (io != Io::Done) {
        result = impl.Lost(io, deadline);
    } else if (kind == Kind::Frame) {
        const std::uint32_t width = reader.U32(), height = reader.U32();
        const auto rgb = reader.Bytes();
        if (reader.AtEnd() && width <= wire::kMostSide && height <= wire::kMostSide &&
            rgb.size() == std::size_t{width} * height * 3) {
            frame.width = width;
            frame.height = height;
            frame.rgb.assign(rgb.begin(), rgb.end());
            result.outcome = Outcome::Ran;
        } else {
            result = impl.Lost(Io::Failed, deadline);
        }
    } else {
        result.detail = reader.Text();
    }
    if (impl.End())
        result = {Outcome::Stopped, ""};
    return result;
}

void Session::Stop() {
    const std::lock_guard lock(impl_->mutex);
    if (impl_->busy) {
        // The waiting request wakes as the channel closes, and cleans up.
        impl_->stopped = true;
        if (impl_->child.Running())
            KillChild(impl_->child);
    } else {
        impl_->Discard();
    }
}

std::string Session::Log() const {
    const std::lock_guard lock(impl_->mutex);
    if (impl_->folder.empty())
        return {};
    std::ifstream log(impl_->folder / kLogName, std::ios::binary);
    log.seekg(0, std::ios::end);
    const std::streamoff size = log.tellg();
    log.seekg(std::max<std::streamoff>(0, size - static_cast<std::streamoff>(kLogTail)));
    return {std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
}

Result Play(Session& session, const fs::path& core, std::span<const std::uint8_t> rom,
            const std::string& name, std::uint32_t frames, Frame& frame) {
    if (frames == 0)
        return {Outcome::Failed, "no frame to run"};
    Result result = session.Load(core, rom, name);
    const std::vector<std::uint16_t> none(std::min(frames, kMostFramesARequest), 0);
    for (std::uint32_t left = frames; result.ok() && left > 0;) {
        const std::uint32_t count = std::min(left, kMostFramesARequest);
        result = session.Frames({none.data(), count}, frame);
        left -= count;
    }
    return result;
}

} // namespace glitchwerk::play
