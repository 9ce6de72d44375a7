// SPDX-License-Identifier: MIT
// A libretro core for the tests: its frame is 32 x 16 pixels, row 0 what it
// saw (runs since the load, the joypad, the options' defaults, a failed
// allocation, the ROM read from its path), rows 1 to 15 the ROM's bytes from
// offset 8 as pixel data. Byte 4 picks the pixel format (1 XRGB8888, 2
// RGB565, else 0RGB1555); the first four bytes may ask it to misbehave.
// Built twice: with GLITCHWERK_TEST_CORE_PATH it reads the ROM from its path.

#include <libretro.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kWidth = 32, kHeight = 16, kPad = 8;

retro_environment_t environment;
retro_video_refresh_t video;
retro_input_state_t input;
std::vector<unsigned char> rom;
std::vector<unsigned char> frame;
unsigned bytes = 2;
unsigned runs = 0, joypad = 0, optionsOk = 0, allocationFailed = 0, fromPath = 0;

bool Marked(const char* marker) {
    return rom.size() >= 4 && std::memcmp(rom.data(), marker, 4) == 0;
}

void Say() {
    for (int i = 0; i < 4096; ++i)
        std::fputs("said on stdout and stderr\n", i % 2 ? stdout : stderr);
    std::fflush(nullptr);
}

// For ever, deaf to SIGTERM; asleep, so that the other tests keep the processors.
[[noreturn]] void Hang() {
    std::signal(SIGTERM, SIG_IGN);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

void Put(unsigned x, unsigned y, unsigned value) {
    unsigned char* at = frame.data() + y * (kWidth * bytes + kPad) + x * bytes;
    for (unsigned i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> 8 * i);
}

} // namespace

RETRO_API unsigned retro_api_version() {
    return RETRO_API_VERSION;
}
RETRO_API void retro_set_environment(retro_environment_t callback) {
    environment = callback;
    static retro_core_option_v2_definition options[] = {
        {"gw_mode",
         "Mode",
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         {{"on", nullptr}, {"off", nullptr}, {}},
         "on"},
        {"gw_level",
         "Level",
         nullptr,
         nullptr,
         nullptr,
         nullptr,
         {{"low", nullptr}, {"high", nullptr}, {}},
         nullptr},
        {},
    };
    static retro_core_options_v2 v2{nullptr, options};
    environment(RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2, &v2);
}
RETRO_API void retro_set_video_refresh(retro_video_refresh_t callback) {
    video = callback;
}
RETRO_API void retro_set_audio_sample(retro_audio_sample_t) {}
RETRO_API void retro_set_audio_sample_batch(retro_audio_sample_batch_t) {}
RETRO_API void retro_set_input_poll(retro_input_poll_t) {}
RETRO_API void retro_set_input_state(retro_input_state_t callback) {
    input = callback;
}
RETRO_API void retro_init() {}
RETRO_API void retro_deinit() {}
RETRO_API void retro_get_system_info(retro_system_info* info) {
    *info = {};
    info->library_name = "glitchwerk test";
    info->library_version = "1";
    info->valid_extensions = "gwt";
#ifdef GLITCHWERK_TEST_CORE_PATH
    info->need_fullpath = true;
#endif
}
RETRO_API void retro_get_system_av_info(retro_system_av_info* info) {
    *info = {};
    info->geometry = {kWidth, kHeight, kWidth, kHeight, 2.0f};
    info->timing = {60.0, 44100.0};
}
RETRO_API void retro_set_controller_port_device(unsigned, unsigned) {}
RETRO_API void retro_reset() {}
RETRO_API bool retro_load_game(const retro_game_info* game) {
#ifdef GLITCHWERK_TEST_CORE_PATH
    if (game->data)
        return false;
    rom.clear();
    if (std::FILE* file = std::fopen(game->path, "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            rom.push_back(static_cast<unsigned char>(c));
        std::fclose(file);
        fromPath = rom.size() == game->size;
    }
#else
    const auto* data = static_cast<const unsigned char*>(game->data);
    rom.assign(data, data + game->size);
#endif
    if (Marked("NOPE"))
        return false;
    if (Marked("HNGL"))
        Hang();
    if (Marked("SAID"))
        Say();
    if (Marked("GROW")) {
        const std::size_t size = std::size_t{3} << 29;
        void* block = std::malloc(size);
        allocationFailed = block == nullptr;
        if (block)
            std::memset(block, 1, size);
        std::free(block);
    }
    const unsigned kind = rom.size() > 4 ? rom[4] : 0;
    bytes = 2;
    if (kind == 1 || kind == 2) {
        retro_pixel_format format =
            kind == 1 ? RETRO_PIXEL_FORMAT_XRGB8888 : RETRO_PIXEL_FORMAT_RGB565;
        if (!environment(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, &format))
            return false;
        bytes = kind == 1 ? 4 : 2;
    }
    retro_variable mode{"gw_mode", nullptr}, level{"gw_level", nullptr};
    optionsOk = environment(RETRO_ENVIRONMENT_GET_VARIABLE, &mode) &&
                environment(RETRO_ENVIRONMENT_GET_VARIABLE, &level) && mode.value && level.value &&
                std::strcmp(mode.value, "on") == 0 && std::strcmp(level.value, "low") == 0;
    runs = 0;
    return true;
}
RETRO_API void retro_unload_game() {}
RETRO_API void retro_run() {
    if (Marked("HANG"))
        Hang();
    if (Marked("CRSH"))
        *static_cast<volatile int*>(nullptr) = 1;
    if (Marked("ABRT"))
        std::abort();
    if (Marked("EXIT"))
        std::exit(0);
    if (Marked("SAID"))
        Say();
    if (Marked("SLOW"))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++runs;
    joypad = static_cast<unsigned>(input(0, RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_MASK));
    const unsigned pitch = kWidth * bytes + kPad;
    frame.assign(pitch * kHeight, 0xEE);
    for (unsigned y = 1; y < kHeight; ++y)
        for (unsigned i = 0; i < kWidth * bytes; ++i) {
            const std::size_t at = 8 + (y - 1) * kWidth * bytes + i;
            frame[y * pitch + i] = at < rom.size() ? rom[at] : 0;
        }
    const unsigned status[] = {runs, joypad, optionsOk, allocationFailed, fromPath};
    for (unsigned x = 0; x < kWidth; ++x)
        Put(x, 0, x < 5 ? status[x] : 0);
    video(frame.data(), kWidth, kHeight, pitch);
}
RETRO_API std::size_t retro_serialize_size() {
    return 0;
}
RETRO_API bool retro_serialize(void*, std::size_t) {
    return false;
}
RETRO_API bool retro_unserialize(const void*, std::size_t) {
    return false;
}
RETRO_API void retro_cheat_reset() {}
RETRO_API void retro_cheat_set(unsigned, bool, const char*) {}
RETRO_API bool retro_load_game_special(unsigned, const retro_game_info*, std::size_t) {
    return false;
}
RETRO_API unsigned retro_get_region() {
    return RETRO_REGION_NTSC;
}
RETRO_API void* retro_get_memory_data(unsigned) {
    return nullptr;
}
RETRO_API std::size_t retro_get_memory_size(unsigned) {
    return 0;
}
