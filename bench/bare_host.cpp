// SPDX-License-Identifier: MIT
// The floor of the play benchmark: the least a frontend does to show a ROM's
// first frame. It opens the core, gives every option its default, loads the
// ROM from its bytes, runs one frame and ends.
//   glitchwerk_bare_host CORE ROM

#include <libretro.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, std::string> options;

template <typename Definition> void Defaults(const Definition* option) {
    for (; option && option->key; ++option)
        options[option->key] = option->default_value     ? option->default_value
                               : option->values[0].value ? option->values[0].value
                                                         : "";
}

bool Environment(unsigned command, void* data) {
    switch (command) {
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT:
    case RETRO_ENVIRONMENT_GET_CAN_DUPE:
        return true;
    case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
    case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY:
        *static_cast<const char**>(data) = ".";
        return true;
    case RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION:
        *static_cast<unsigned*>(data) = 2;
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS:
        Defaults(static_cast<const retro_core_option_definition*>(data));
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_INTL:
        Defaults(static_cast<const retro_core_options_intl*>(data)->us);
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2:
        Defaults(static_cast<const retro_core_options_v2*>(data)->definitions);
        return true;
    case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2_INTL:
        Defaults(static_cast<const retro_core_options_v2_intl*>(data)->us->definitions);
        return true;
    case RETRO_ENVIRONMENT_SET_VARIABLES:
        for (auto* v = static_cast<const retro_variable*>(data); v->key; ++v) {
            const std::string text = v->value;
            const auto start = text.find("; ");
            options[v->key] = start == std::string::npos
                                  ? ""
                                  : text.substr(start + 2, text.find('|') - start - 2);
        }
        return true;
    case RETRO_ENVIRONMENT_GET_VARIABLE: {
        auto* variable = static_cast<retro_variable*>(data);
        const auto option = options.find(variable->key);
        variable->value = option == options.end() ? nullptr : option->second.c_str();
        return variable->value;
    }
    default:
        return false;
    }
}

template <typename Function> Function Find(void* core, const char* name) {
    void* symbol = dlsym(core, name);
    if (!symbol) {
        std::fprintf(stderr, "no %s\n", name);
        std::_Exit(1);
    }
    return reinterpret_cast<Function>(symbol);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    void* core = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> rom{std::istreambuf_iterator<char>(in), {}};
    if (!core || rom.empty())
        return 1;
    Find<void (*)(retro_environment_t)>(core, "retro_set_environment")(Environment);
    Find<void (*)(retro_video_refresh_t)>(core, "retro_set_video_refresh")(
        [](const void*, unsigned, unsigned, std::size_t) {});
    Find<void (*)(retro_audio_sample_t)>(core, "retro_set_audio_sample")(
        [](std::int16_t, std::int16_t) {});
    Find<void (*)(retro_audio_sample_batch_t)>(core, "retro_set_audio_sample_batch")(
        [](const std::int16_t*, std::size_t frames) { return frames; });
    Find<void (*)(retro_input_poll_t)>(core, "retro_set_input_poll")([] {});
    Find<void (*)(retro_input_state_t)>(core, "retro_set_input_state")(
        [](unsigned, unsigned, unsigned, unsigned) -> std::int16_t { return 0; });
    Find<void (*)()>(core, "retro_init")();
    const retro_game_info game{argv[2], rom.data(), rom.size(), nullptr};
    if (!Find<bool (*)(const retro_game_info*)>(core, "retro_load_game")(&game))
        return 1;
    Find<void (*)()>(core, "retro_run")();
    std::fflush(nullptr);
    std::_Exit(0);
}
