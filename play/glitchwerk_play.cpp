// SPDX-License-Identifier: MIT
// glitchwerk-play: hosts one libretro core in a process of its own and
// answers its caller over the private channel it was started with. Cores
// hang, crash and write to stdout; here that costs the caller one helper,
// never its own process or its channel.

#include "play/channel.h"
#include "play/protocol.h"

#include <libretro.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace glitchwerk::play {
namespace {

namespace fs = std::filesystem;
using wire::Kind;

struct Core {
    void* library = nullptr;
    fs::path path;
    void (*init)() = nullptr;
    void (*deinit)() = nullptr;
    unsigned (*apiVersion)() = nullptr;
    void (*systemInfo)(retro_system_info*) = nullptr;
    void (*avInfo)(retro_system_av_info*) = nullptr;
    void (*setEnvironment)(retro_environment_t) = nullptr;
    void (*setVideo)(retro_video_refresh_t) = nullptr;
    void (*setAudioSample)(retro_audio_sample_t) = nullptr;
    void (*setAudioBatch)(retro_audio_sample_batch_t) = nullptr;
    void (*setInputPoll)(retro_input_poll_t) = nullptr;
    void (*setInputState)(retro_input_state_t) = nullptr;
    void (*setPortDevice)(unsigned, unsigned) = nullptr;
    void (*run)() = nullptr;
    bool (*loadGame)(const retro_game_info*) = nullptr;
    void (*unloadGame)() = nullptr;
};

// Names travel in UTF-8.
fs::path PathOf(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
std::string TextOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// What the core's callbacks see: they are plain functions.
struct Host {
    Core core;
    fs::path folder, system, save, roms;
    std::string systemText, saveText, pathText;
    std::map<std::string, std::string> options; // every one with its default
    retro_pixel_format format = RETRO_PIXEL_FORMAT_0RGB1555;
    retro_frame_time_callback frameTime{};
    double fps = 60;
    unsigned baseWidth = 0, baseHeight = 0;
    // The last frame as the core drew it, rows packed.
    std::vector<std::uint8_t> raw;
    unsigned width = 0, height = 0, bytesPerPixel = 2;
    retro_pixel_format rawFormat = RETRO_PIXEL_FORMAT_0RGB1555;
    std::uint16_t joypad = 0;
    bool loaded = false;
};
Host host;

void Log(enum retro_log_level level, const char* format, ...) {
    static const char* const kLevels[] = {"debug", "info", "warn", "error"};
    std::fprintf(stderr, "[%s] ", kLevels[std::min<unsigned>(level, 3)]);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// The default of an option: the one it names, else its first value.
template <typename Definition> void TakeDefaults(const Definition* definitions) {
    for (const Definition* option = definitions; option && option->key; ++option) {
        const char* value = option->default_value     ? option->default_value
                            : option->values[0].value ? option->values[0].value
                                                      : "";
        host.options[option->key] = value;
    }
}

// "Description; first|second|..." of the first option interface.
void TakeVariables(const retro_variable* variables) {
    for (const retro_variable* variable = variables; variable && variable->key; ++variable) {
        std::string values = variable->value ? variable->value : "";
        const auto start = values.find("; ");
        values = start == std::string::npos ? "" : values.substr(start + 2);
        host.options[variable->key] = values.substr(0, values.find('|'));
    }
}

bool Environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_GET_CAN_DUPE:
        if (data)
            *static_cast<bool*>(data) = true;
        return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: {
        const auto format = *static_cast<const retro_pixel_format*>(data);
        if (format != RETRO_PIXEL_FORMAT_0RGB1555 && format != RETRO_PIXEL_FORMAT_XRGB8888 &&
            format != RETRO_PIXEL_FORMAT_RGB565)
            return false;
        host.format = format;
        return true;
    }
    case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
    case RETRO_ENVIRONMENT_GET_CORE_ASSETS_DIRECTORY:
        *static_cast<const char**>(data) = host.systemText.c_str();
        return true;
    case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY:
        *static_cast<const char**>(data) = host.saveText.c_str();
        return true;
    case RETRO_ENVIRONMENT_GET_LIBRETRO_PATH:
        *static_cast<const char**>(data) = host.pathText.c_str();
        return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        const auto option = variable->key ? host.options.find(variable->key) : host.options.end();
        variable->value = option == host.options.end() ? nullptr : option->second.c_str();
        return variable->value != nullptr;
    }
    case RETRO_ENVIRONMENT_SET_VARIABLE: {
        const auto* variable = static_cast<const retro_variable*>(data);
        if (variable && variable->key && variable->value && host.options.count(variable->key))
            host.options[variable->key] = variable->value;
        return true;
    }
    case RETRO_ENVIRONMENT_SET_VARIABLES:
        TakeVariables(static_cast<const retro_variable*>(data));
        return true;
    case RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION:
        *static_cast<unsigned*>(data) = 2;
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS:
        TakeDefaults(static_cast<const retro_core_option_definition*>(data));
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_INTL:
        if (data)
            TakeDefaults(static_cast<const retro_core_options_intl*>(data)->us);
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2:
        if (data)
            TakeDefaults(static_cast<const retro_core_options_v2*>(data)->definitions);
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2_INTL: {
        const auto* options = static_cast<const retro_core_options_v2_intl*>(data);
        if (options && options->us)
            TakeDefaults(options->us->definitions);
        return true;
    }
    case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE:
    case RETRO_ENVIRONMENT_GET_FASTFORWARDING:
    case RETRO_ENVIRONMENT_GET_OVERSCAN:
        *static_cast<bool*>(data) = false;
        return true;
    case RETRO_ENVIRONMENT_GET_LOG_INTERFACE:
        static_cast<retro_log_callback*>(data)->log = Log;
        return true;
    case RETRO_ENVIRONMENT_SET_MESSAGE:
        Log(RETRO_LOG_INFO, "%s\n", static_cast<const retro_message*>(data)->msg);
        return true;
    case RETRO_ENVIRONMENT_SET_MESSAGE_EXT:
        Log(RETRO_LOG_INFO, "%s\n", static_cast<const retro_message_ext*>(data)->msg);
        return true;
    case RETRO_ENVIRONMENT_GET_MESSAGE_INTERFACE_VERSION:
        *static_cast<unsigned*>(data) = 1;
        return true;
    case RETRO_ENVIRONMENT_GET_LANGUAGE:
        *static_cast<unsigned*>(data) = RETRO_LANGUAGE_ENGLISH;
        return true;
    case RETRO_ENVIRONMENT_GET_INPUT_BITMASKS:
        return true;
    case RETRO_ENVIRONMENT_GET_INPUT_DEVICE_CAPABILITIES:
        *static_cast<std::uint64_t*>(data) = 1u << RETRO_DEVICE_JOYPAD;
        return true;
    case RETRO_ENVIRONMENT_GET_INPUT_MAX_USERS:
        *static_cast<unsigned*>(data) = 1;
        return true;
    case RETRO_ENVIRONMENT_GET_AUDIO_VIDEO_ENABLE:
        *static_cast<int*>(data) = 3; // both: the core runs as it always does
        return true;
    case RETRO_ENVIRONMENT_GET_TARGET_REFRESH_RATE:
        *static_cast<float*>(data) = 60;
        return true;
    case RETRO_ENVIRONMENT_GET_DISK_CONTROL_INTERFACE_VERSION:
        *static_cast<unsigned*>(data) = 1;
        return true;
    case RETRO_ENVIRONMENT_SET_FRAME_TIME_CALLBACK:
        host.frameTime = *static_cast<const retro_frame_time_callback*>(data);
        return true;
    case RETRO_ENVIRONMENT_SET_GEOMETRY: {
        const auto* geometry = static_cast<const retro_game_geometry*>(data);
        host.baseWidth = geometry->base_width;
        host.baseHeight = geometry->base_height;
        return true;
    }
    case RETRO_ENVIRONMENT_SET_SYSTEM_AV_INFO: {
        const auto* info = static_cast<const retro_system_av_info*>(data);
        host.baseWidth = info->geometry.base_width;
        host.baseHeight = info->geometry.base_height;
        host.fps = info->timing.fps > 0 ? info->timing.fps : 60;
        return true;
    }
    // Taken and not needed here.
    case RETRO_ENVIRONMENT_SHUTDOWN:
    case RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL:
    case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
    case RETRO_ENVIRONMENT_SET_KEYBOARD_CALLBACK:
    case RETRO_ENVIRONMENT_SET_DISK_CONTROL_INTERFACE:
    case RETRO_ENVIRONMENT_SET_DISK_CONTROL_EXT_INTERFACE:
    case RETRO_ENVIRONMENT_SET_SUPPORT_NO_GAME:
    case RETRO_ENVIRONMENT_SET_PROC_ADDRESS_CALLBACK:
    case RETRO_ENVIRONMENT_SET_SUBSYSTEM_INFO:
    case RETRO_ENVIRONMENT_SET_CONTROLLER_INFO:
    case RETRO_ENVIRONMENT_SET_MEMORY_MAPS:
    case RETRO_ENVIRONMENT_SET_SUPPORT_ACHIEVEMENTS:
    case RETRO_ENVIRONMENT_SET_SERIALIZATION_QUIRKS:
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_DISPLAY:
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_UPDATE_DISPLAY_CALLBACK:
    case RETRO_ENVIRONMENT_SET_CONTENT_INFO_OVERRIDE:
    case RETRO_ENVIRONMENT_SET_MINIMUM_AUDIO_LATENCY:
        return true;
    default: // hardware rendering, rumble, camera, VFS and the rest: none here
        return false;
    }
}

void Video(const void* data, unsigned width, unsigned height, std::size_t pitch) {
    // No data: the last frame again.
    if (!data || data == RETRO_HW_FRAME_BUFFER_VALID || width == 0 || height == 0 ||
        width > wire::kMostSide || height > wire::kMostSide)
        return;
    const unsigned bytes = host.format == RETRO_PIXEL_FORMAT_XRGB8888 ? 4 : 2;
    if (pitch < std::size_t{width} * bytes)
        return;
    host.raw.resize(std::size_t{width} * height * bytes);
    for (unsigned row = 0; row < height; ++row)
        std::memcpy(host.raw.data() + std::size_t{row} * width * bytes,
                    static_cast<const std::uint8_t*>(data) + row * pitch,
                    std::size_t{width} * bytes);
    host.width = width;
    host.height = height;
    host.bytesPerPixel = bytes;
    host.rawFormat = host.format;
}

void AudioSample(std::int16_t, std::int16_t) {}
std::size_t AudioBatch(const std::int16_t*, std::size_t frames) {
    return frames;
}
void InputPoll() {}
std::int16_t InputState(unsigned port, unsigned device, unsigned, unsigned id) {
    if (port != 0 || (device & RETRO_DEVICE_MASK) != RETRO_DEVICE_JOYPAD)
        return 0;
    if (id == RETRO_DEVICE_ID_JOYPAD_MASK)
        return static_cast<std::int16_t>(host.joypad);
    return static_cast<std::int16_t>(id < 16 ? host.joypad >> id & 1 : 0);
}

// 5 and 6 bits widened to 8 as (c << 3) | (c >> 2) and (c << 2) | (c >> 4).
std::uint8_t Five(unsigned c) {
    return static_cast<std::uint8_t>(c << 3 | c >> 2);
}
std::uint8_t Six(unsigned c) {
    return static_cast<std::uint8_t>(c << 2 | c >> 4);
}

// The last frame in R, G, B bytes; black in the core's size when it drew none.
void SendFrame(wire::Writer& message) {
    const unsigned width =
        host.width ? host.width : std::clamp(host.baseWidth, 1u, wire::kMostSide);
    const unsigned height =
        host.height ? host.height : std::clamp(host.baseHeight, 1u, wire::kMostSide);
    std::vector<std::uint8_t> rgb(std::size_t{width} * height * 3);
    if (host.width) {
        const std::size_t pixels = std::size_t{width} * height;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint8_t* at = host.raw.data() + i * host.bytesPerPixel;
            std::uint8_t* out = rgb.data() + i * 3;
            if (host.rawFormat == RETRO_PIXEL_FORMAT_XRGB8888) {
                const std::uint32_t p = at[0] | at[1] << 8 | at[2] << 16;
                out[0] = static_cast<std::uint8_t>(p >> 16);
                out[1] = static_cast<std::uint8_t>(p >> 8);
                out[2] = static_cast<std::uint8_t>(p);
            } else {
                const unsigned p = at[0] | at[1] << 8;
                const bool rgb565 = host.rawFormat == RETRO_PIXEL_FORMAT_RGB565;
                out[0] = Five(rgb565 ? p >> 11 & 31 : p >> 10 & 31);
                out[1] = rgb565 ? Six(p >> 5 & 63) : Five(p >> 5 & 31);
                out[2] = Five(p & 31);
            }
        }
    }
    message.U32(width);
    message.U32(height);
    message.Bytes(rgb);
}

void* Symbol(const char* name, std::string& missing) {
    void* symbol = FindSymbol(host.core.library, name);
    if (!symbol && missing.empty())
        missing = name;
    return symbol;
}

template <typename Function> void Bind(Function& function, const char* name, std::string& missing) {
    function = reinterpret_cast<Function>(Symbol(name, missing));
}

// Opens the core once; a helper hosts one core all its life.
bool OpenCore(const fs::path& path, std::string& reason) {
    if (host.core.library)
        return path == host.core.path || (reason = "another core is loaded here", false);
    void* library = OpenLibrary(path, reason);
    if (!library)
        return false;
    Core& core = host.core;
    core.library = library;
    std::string missing;
    Bind(core.init, "retro_init", missing);
    Bind(core.deinit, "retro_deinit", missing);
    Bind(core.apiVersion, "retro_api_version", missing);
    Bind(core.systemInfo, "retro_get_system_info", missing);
    Bind(core.avInfo, "retro_get_system_av_info", missing);
    Bind(core.setEnvironment, "retro_set_environment", missing);
    Bind(core.setVideo, "retro_set_video_refresh", missing);
    Bind(core.setAudioSample, "retro_set_audio_sample", missing);
    Bind(core.setAudioBatch, "retro_set_audio_sample_batch", missing);
    Bind(core.setInputPoll, "retro_set_input_poll", missing);
    Bind(core.setInputState, "retro_set_input_state", missing);
    Bind(core.setPortDevice, "retro_set_controller_port_device", missing);
    Bind(core.run, "retro_run", missing);
    Bind(core.loadGame, "retro_load_game", missing);
    Bind(core.unloadGame, "retro_unload_game", missing);
    if (!missing.empty()) {
        reason = "not a libretro core: no " + missing;
        return false;
    }
    if (core.apiVersion() != RETRO_API_VERSION) {
        reason = "a libretro core of another API version";
        return false;
    }
    core.path = path;
    host.pathText = TextOf(path);
    core.setEnvironment(Environment);
    core.setVideo(Video);
    core.setAudioSample(AudioSample);
    core.setAudioBatch(AudioBatch);
    core.setInputPoll(InputPoll);
    core.setInputState(InputState);
    core.init();
    return true;
}

// A name the ROM's copy may have: its own, without folders or controls.
std::string CopyName(const std::string& name) {
    std::string safe;
    for (const char c : TextOf(PathOf(name).filename()))
        safe += static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\' || c == ':' ? '_' : c;
    return safe.empty() || safe == "." || safe == ".." ? "rom" : safe;
}

Kind Load(wire::Reader& request, wire::Writer& reply, std::string& reason) {
    const std::string corePath = request.Text();
    const std::string name = request.Text();
    const auto rom = request.Bytes();
    if (!request.AtEnd() || rom.size() > wire::kMostRom) {
        reason = "a load request the helper cannot read";
        return Kind::Failed;
    }
    if (!OpenCore(PathOf(corePath), reason))
        return Kind::Failed;
    if (host.loaded) {
        host.core.unloadGame();
        host.loaded = false;
    }
    host.raw.clear();
    host.width = host.height = 0;
    host.format = RETRO_PIXEL_FORMAT_0RGB1555;
    host.frameTime = {};

    // Every core gets the ROM's path, a private copy in the helper's folder;
    // those that read it themselves get no bytes.
    std::error_code ignored;
    RemoveFolder(host.roms);
    fs::create_directory(host.roms, ignored);
    const fs::path copy = host.roms / PathOf(CopyName(name));
    {
        std::ofstream out(copy, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(rom.data()), std::ssize(rom)) ||
            !out.flush()) {
            reason = "cannot write the ROM's copy in " + TextOf(host.roms);
            return Kind::Failed;
        }
    }
    retro_system_info system{};
    host.core.systemInfo(&system);
    const std::string copyText = TextOf(copy);
    retro_game_info game{};
    game.path = copyText.c_str();
    game.data = system.need_fullpath ? nullptr : rom.data();
    game.size = rom.size();
    if (!host.core.loadGame(&game))
        return Kind::Refused;
    host.loaded = true;
    retro_system_av_info av{};
    host.core.avInfo(&av);
    host.baseWidth = av.geometry.base_width;
    host.baseHeight = av.geometry.base_height;
    host.fps = av.timing.fps > 0 ? av.timing.fps : 60;
    host.core.setPortDevice(0, RETRO_DEVICE_JOYPAD);
    reply.U32(host.baseWidth);
    reply.U32(host.baseHeight);
    return Kind::Loaded;
}

Kind Frames(wire::Reader& request, wire::Writer& reply, std::string& reason) {
    const std::uint32_t count = request.U32();
    std::vector<std::uint16_t> joypad(std::min<std::uint32_t>(count, 1u << 20));
    for (std::uint16_t& state : joypad)
        state = request.U16();
    if (!request.AtEnd() || joypad.size() != count) {
        reason = "a frames request the helper cannot read";
        return Kind::Failed;
    }
    if (!host.loaded) {
        reason = "no game is loaded";
        return Kind::Failed;
    }
    for (const std::uint16_t state : joypad) {
        host.joypad = state;
        if (host.frameTime.callback)
            host.frameTime.callback(static_cast<retro_usec_t>(1e6 / host.fps));
        host.core.run();
    }
    SendFrame(reply);
    return Kind::Frame;
}

bool Send(Channel channel, wire::Writer& message) {
    const auto& bytes = message.Done();
    return WriteExact(channel, bytes.data(), bytes.size());
}

int Serve(Channel channel, const fs::path& folder) {
    host.folder = folder;
    host.system = folder / "system";
    host.save = folder / "save";
    host.roms = folder / "rom";
    const fs::path work = folder / "work";
    std::error_code error;
    for (const fs::path& place : {host.system, host.save, host.roms, work})
        fs::create_directory(place, error);
    host.systemText = TextOf(host.system);
    host.saveText = TextOf(host.save);
    std::string reason;
    if (!Confine(channel, folder, work, reason)) {
        wire::Writer failed(Kind::Failed);
        failed.Text(reason);
        Send(channel, failed);
        return 1;
    }
    wire::Writer hello(Kind::Hello);
    hello.U32(wire::kVersion);
    if (!Send(channel, hello))
        return 1;
    for (;;) {
        std::uint8_t head[wire::kHeaderSize];
        if (!ReadExact(channel, head, sizeof head))
            return 0; // the caller has gone
        const wire::Header header = wire::ReadHeader(head);
        if (header.size > wire::kMostPayload)
            return 1;
        std::vector<std::uint8_t> payload(header.size);
        if (!ReadExact(channel, payload.data(), payload.size()))
            return 1;
        if (header.kind == Kind::Quit)
            break;
        wire::Reader request(payload);
        wire::Writer reply(Kind::Failed);
        reason.clear();
        Kind kind = Kind::Failed;
        if (header.kind == Kind::Load)
            kind = Load(request, reply, reason);
        else if (header.kind == Kind::Frames)
            kind = Frames(request, reply, reason);
        else
            reason = "an unknown request";
        if (kind == Kind::Failed || kind == Kind::Refused) {
            reply = wire::Writer(kind);
            reply.Text(reason);
        }
        reply.SetKind(kind);
        if (!Send(channel, reply))
            return 1;
    }
    if (host.loaded)
        host.core.unloadGame();
    if (host.core.library)
        host.core.deinit();
    return 0;
}

} // namespace
} // namespace glitchwerk::play

namespace {

int Main(const std::vector<std::filesystem::path>& args) {
    glitchwerk::play::Channel channel;
    std::filesystem::path folder;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
        const std::string value = args[i + 1].string();
        if (args[i] == "--channel")
            std::from_chars(value.data(), value.data() + value.size(), channel.handle);
        else if (args[i] == "--folder")
            folder = args[i + 1];
    }
    if (channel.handle < 0 || folder.empty()) {
        std::fputs("glitchwerk-play is started by Glitchwerk and glitchwerk-cli, not by hand\n",
                   stderr);
        return 2;
    }
    return glitchwerk::play::Serve(channel, folder);
}

} // namespace

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    int status = 1;
    try {
#ifdef _WIN32
        int count = 0;
        LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
        const std::vector<std::filesystem::path> args(words, words + count);
        LocalFree(static_cast<HLOCAL>(words));
#else
        const std::vector<std::filesystem::path> args(argv, argv + argc);
#endif
        status = Main(args);
    } catch (...) { // a name the system cannot convert
    }
    // What the core left behind is not waited for.
    std::fflush(nullptr);
    std::_Exit(status);
}
