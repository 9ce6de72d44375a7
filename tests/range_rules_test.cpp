// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace glitchwerk {
namespace {

using testing::Bytes;

// A copy of some bytes, on Linux ending just before a page that cannot be read, so that a
// read past their end faults.
class AtPageEnd {
  public:
    explicit AtPageEnd(const Bytes& bytes) : copy_(bytes) {
#if defined(__linux__)
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() + page - 1) / page * page + page;
        void* map =
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return;
        map_ = static_cast<std::uint8_t*>(map);
        if (mprotect(map_ + size_ - page, page, PROT_NONE) == 0) {
            data_ = map_ + size_ - page - bytes.size();
            std::memcpy(data_, bytes.data(), bytes.size());
        }
#endif
    }
    AtPageEnd(const AtPageEnd&) = delete;
    AtPageEnd& operator=(const AtPageEnd&) = delete;
    ~AtPageEnd() {
#if defined(__linux__)
        if (map_)
            munmap(map_, size_);
#endif
    }
    const std::uint8_t* data() const {
        return data_ ? data_ : copy_.data();
    }

  private:
    Bytes copy_;
    std::uint8_t* map_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Smooth at powers of two over windows long enough for many groups of 64, their ends at each place
// of the last groups; random bytes, bytes all 0xFF, and a square wave of the block's period. The
// bytes end at a page that cannot be read.
TEST(SmoothBytes, MatchesPlainMeansOverLongWindows) {
    std::mt19937 random(13);
    for (const std::size_t block : {64, 128, 256, 4096}) {
        for (std::size_t extra = 0; extra < 260; extra += 37) {
            for (int pattern = 0; pattern < 3; ++pattern) {
                Bytes from(block + 7 * 64 + extra + (block == 4096 ? 4096 * 3 : 0));
                for (std::size_t i = 0; i < from.size(); ++i)
                    from[i] = std::array<std::uint8_t, 3>{
                        static_cast<std::uint8_t>(random()), 0xFF,
                        static_cast<std::uint8_t>(i / block % 2 * 0xFF)}[pattern];
                std::vector<std::uint64_t> sums(from.size() + 1);
                for (std::size_t i = 0; i < from.size(); ++i)
                    sums[i + 1] = sums[i] + from[i];
                Bytes expected(from.size() - block + 1);
                for (std::size_t p = 0; p < expected.size(); ++p)
                    expected[p] = static_cast<std::uint8_t>((sums[p + block] - sums[p]) / block);
                Bytes to(expected.size());
                const AtPageEnd source(from);
                SmoothBytes(source.data(), to.data(), to.size(), from.size(), block);
                ASSERT_EQ(to, expected) << block << " " << extra << " " << pattern;
            }
        }
    }
}

} // namespace
} // namespace glitchwerk
