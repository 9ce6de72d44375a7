// SPDX-License-Identifier: MIT
#pragma once
// What glitchwerk-play and its caller say to each other over their private
// channel: messages of a kind and a length, then the payload, every number
// little-endian. The caller asks (Load, Frames, Quit); the helper says Hello
// once ready and answers each request with one message.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glitchwerk::play::wire {

enum class Kind : std::uint32_t {
    Hello = 1,   // u32 version
    Load = 2,    // text core path, text ROM name, bytes ROM
    Frames = 3,  // u32 count, then count u16 joypad states
    Quit = 4,    //
    Loaded = 5,  // u32 width, u32 height (the core's base geometry)
    Frame = 6,   // u32 width, u32 height, bytes R, G, B rows top to bottom
    Refused = 7, // text: the core turned the ROM down
    Failed = 8,  // text: why the request could not be carried out
};

inline constexpr std::uint32_t kVersion = 1;
// Larger than the largest ROM a caller sends with its names.
inline constexpr std::uint32_t kMostPayload = 300u << 20;
inline constexpr std::uint32_t kMostRom = 256u << 20;
// A frame's side: larger than any console's picture.
inline constexpr std::uint32_t kMostSide = 4096;

inline constexpr std::size_t kHeaderSize = 8;

class Writer {
  public:
    explicit Writer(Kind kind) {
        U32(static_cast<std::uint32_t>(kind));
        U32(0);
    }
    void U32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<std::uint8_t>(value >> 8 * i));
    }
    void U16(std::uint16_t value) {
        bytes_.push_back(static_cast<std::uint8_t>(value));
        bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void Bytes(std::span<const std::uint8_t> bytes) {
        U32(static_cast<std::uint32_t>(bytes.size()));
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    void Text(std::string_view text) {
        Bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    void SetKind(Kind kind) {
        for (int i = 0; i < 4; ++i)
            bytes_[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(kind) >> 8 * i);
    }
    // The message, its length filled in.
    const std::vector<std::uint8_t>& Done() {
        const auto size = static_cast<std::uint32_t>(bytes_.size() - kHeaderSize);
        for (int i = 0; i < 4; ++i)
            bytes_[4 + i] = static_cast<std::uint8_t>(size >> 8 * i);
        return bytes_;
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

// Reads a payload; once anything is missing, every later read gives 0 or
// nothing and ok() is false.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> payload) : payload_(payload) {}
    std::uint32_t U32() {
        std::uint32_t value = 0;
        if (Take(4))
            for (int i = 0; i < 4; ++i)
                value |= std::uint32_t{payload_[at_ - 4 + i]} << 8 * i;
        return value;
    }
    std::uint16_t U16() {
        return Take(2) ? static_cast<std::uint16_t>(payload_[at_ - 2] | payload_[at_ - 1] << 8) : 0;
    }
    std::span<const std::uint8_t> Bytes() {
        const std::uint32_t size = U32();
        return Take(size) ? payload_.subspan(at_ - size, size) : std::span<const std::uint8_t>{};
    }
    std::string Text() {
        const auto bytes = Bytes();
        return {bytes.begin(), bytes.end()};
    }
    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && at_ == payload_.size(); }

  private:
    bool Take(std::size_t size) {
        ok_ = ok_ && size <= payload_.size() - at_;
        if (ok_)
            at_ += size;
        return ok_;
    }
    std::span<const std::uint8_t> payload_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

struct Header {
    Kind kind{};
    std::uint32_t size = 0;
};

inline Header ReadHeader(const std::uint8_t (&bytes)[kHeaderSize]) {
    Reader reader({bytes, kHeaderSize});
    const auto kind = static_cast<Kind>(reader.U32());
    return {kind, reader.U32()};
}

} // namespace glitchwerk::play::wire
