// SPDX-License-Identifier: MIT
#include "cli/play_command.h"

#include "cli/png_file.h"
#include "engine/file_parts.h"
#include "engine/file_stream.h"
#include "play/core_choice.h"
#include "play/play_client.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using play::Outcome;

constexpr char kProgram[] = "glitchwerk-cli";
constexpr std::uint32_t kDefaultFrames = 180;
constexpr std::uint32_t kMostFrames = 36000; // ten minutes at 60 frames a second
constexpr std::int64_t kLargestRom = 256 << 20;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

fs::path PathOf(const std::string& name) {
#ifdef _WIN32
    return fs::path(std::u8string(name.begin(), name.end()));
#else
    return fs::path(name);
#endif
}

std::string TextOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// A name for the terminal: controls shown as octal codes, never sent raw.
std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char code[5];
            std::snprintf(code, sizeof code, "\\%03o", static_cast<unsigned char>(c));
            shown += code;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::uint32_t ParseFrames(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > kMostFrames)
        throw UsageError("--frames: a decimal number from 1 to 36000: " + text);
    return value;
}

// The file at `path`, when there is one.
std::optional<FileFacts> FactsAt(const fs::path& path) {
    FileHandle file = OpenFile(path, OpenHow::Reading);
    FileFacts facts;
    if (!file || !ReadFacts(file.get(), facts))
        return std::nullopt;
    return facts;
}

// Refuses a target that is one of `kept` (the input, the variants), that
// exists without --force, or that is no plain file: --force replaces plain
// files alone.
void CheckTarget(const std::string& target, const std::vector<FileId>& kept, bool force) {
    std::error_code error;
    const fs::file_type type = fs::symlink_status(PathOf(target), error).type();
    if (type == fs::file_type::not_found || type == fs::file_type::none)
        return;
    const std::optional<FileFacts> facts = FactsAt(PathOf(target));
    if (facts && std::ranges::count(kept, facts->id))
        throw Failure(target + " is the input file");
    if (!force)
        throw Failure(target + " exists (--force replaces it)");
    if (type != fs::file_type::regular)
        throw Failure(target + " is no plain file (--force replaces only those)");
}

// The umask, which a picture published under its name gets off 0666.
unsigned CreationMask() {
#ifdef _WIN32
    return 0;
#else
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
#endif
}

// Writes the picture whole into a new private file beside `target`, which
// takes the name only once it is complete and on the disk; looked at again
// just before, since another program may have been quicker.
// (engine/publish.h's PublishFile is to take this over.)
void PublishPng(const std::string& target, const std::vector<FileId>& kept, bool force,
                const play::Frame& picture) {
    const fs::path folder = PathOf(target).parent_path();
    std::random_device random;
    fs::path partial;
    FileHandle file;
    OpenFailure failure = OpenFailure::Exists;
    for (int tries = 0; !file && failure == OpenFailure::Exists && tries < 100; ++tries) {
        partial = folder / (".glitchwerk-" + Hex8(random()) + ".partial");
        file = OpenFile(partial, OpenHow::New, &failure);
    }
    if (!file)
        throw Failure("cannot create " + target + ": " + LastFailure());
    try {
        if (!WritePng(file.get(), picture.width, picture.height, picture.rgb) ||
            !FlushToDisk(file.get()) || !CloseStream(file))
            throw Failure("cannot write " + target + ": " + LastFailure());
        std::error_code error;
        const auto mode = static_cast<fs::perms>(0666 & ~CreationMask());
        fs::permissions(partial, mode, error);
        CheckTarget(target, kept, force);
        bool existed = false;
        if (force)
            fs::rename(partial, PathOf(target), error);
        else if (!RenameWithoutReplacing(partial, PathOf(target), existed))
            error.assign(errno, std::generic_category());
        if (existed)
            throw Failure(target + " appeared meanwhile (--force replaces it)");
        if (error)
            throw Failure("cannot write " + target + ": " + error.message());
    } catch (...) {
        file.reset();
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
}

// A file read whole to be played.
struct Rom {
    std::vector<std::uint8_t> bytes;
    FileId id;
    FileKind kind = FileKind::Other;
};

Rom ReadRom(const std::string& name) {
    FileHandle file = OpenFile(PathOf(name), OpenHow::Reading);
    FileFacts facts;
    if (!file || !ReadFacts(file.get(), facts))
        throw Failure("cannot read " + name + ": " + LastFailure());
    if (!facts.regular)
        throw Failure(name + " is not a plain file");
    if (facts.length > kLargestRom)
        throw Failure(name + " is too large to play (256 MiB at most)");
    Rom rom;
    rom.id = facts.id;
    rom.bytes.resize(static_cast<std::size_t>(facts.length));
    std::size_t got = 0;
    if (!ReadAt(file.get(), 0, rom.bytes.data(), rom.bytes.size(), got) || got != rom.bytes.size())
        throw Failure("cannot read " + name + ": " + LastFailure());
    rom.kind = FindParts(rom.bytes, rom.bytes.size()).kind;
    return rom;
}

// One try of a file, as play reports it.
struct Try {
    std::optional<fs::path> core;
    play::Result result;
    play::Frame frame;
};

Try PlayFile(play::Session& session, const std::string& name, const Rom& rom,
             const std::optional<fs::path>& core, std::uint32_t frames) {
    Try tried;
    tried.core =
        core ? core : play::ChooseCore(rom.kind, PathOf(name), play::InstalledCoreFolders());
    if (tried.core)
        tried.result = play::Play(session, *tried.core, rom.bytes, TextOf(PathOf(name).filename()),
                                  frames, tried.frame);
    return tried;
}

const char* OutcomeWord(const Try& tried) {
    if (!tried.core && tried.result.detail.empty())
        return "no core";
    switch (tried.result.outcome) {
    case Outcome::Ran:
        return "ran";
    case Outcome::Refused:
        return "refused";
    case Outcome::Crashed:
        return "crashed";
    case Outcome::Hung:
    case Outcome::Stopped:
        return "hung";
    case Outcome::Failed:
        break;
    }
    return "failed";
}

std::string Seconds(std::chrono::milliseconds time) {
    char text[16];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000);
    return text;
}

// Why the try gave no frame, in one line.
std::string Why(const Try& tried, const std::string& name) {
    if (!tried.core && tried.result.detail.empty())
        return "no core takes " + name;
    switch (tried.result.outcome) {
    case Outcome::Refused:
        return "the core refused " + name;
    case Outcome::Crashed:
        return "the core crashed on " + name;
    case Outcome::Hung:
    case Outcome::Stopped:
        return "the core did not answer within " + Seconds(tried.result.missed) + " s";
    default:
        return "cannot play " + name + ": " + tried.result.detail;
    }
}

Json TryJson(const Try& tried, const std::string& name, std::uint32_t frames) {
    const bool ran = tried.result.ok();
    return {{"file", name},
            {"core", tried.core ? Json(TextOf(*tried.core)) : Json()},
            {"frames", frames},
            {"width", ran ? Json(tried.frame.width) : Json()},
            {"height", ran ? Json(tried.frame.height) : Json()},
            {"outcome", OutcomeWord(tried)},
            {"frame_crc32", ran ? Json(Hex8(play::FrameCrc32(tried.frame))) : Json()}};
}

std::string Dumped(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The sheet's labels: 5 x 7 glyphs, a row a byte, the top bit of five at the left.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
};
constexpr std::uint32_t kAdvance = 6, kLabelHeight = 11, kGap = 4;

// Writes `text` with its top left at (x, y); letters without a glyph stay blank.
void Label(play::Frame& sheet, std::uint32_t x, std::uint32_t y, std::string_view text,
           std::array<std::uint8_t, 3> colour) {
    for (const char c : text) {
        const auto glyph = std::ranges::find(kFont, c, &Glyph::c);
        for (std::uint32_t row = 0; glyph != std::end(kFont) && row < 7; ++row)
            for (std::uint32_t column = 0; column < 5; ++column)
                if (glyph->rows[row] >> (4 - column) & 1) {
                    const std::size_t at = (std::size_t{y + row} * sheet.width + x + column) * 3;
                    std::copy(colour.begin(), colour.end(), sheet.rgb.begin() + std::ptrdiff_t(at));
                }
        x += kAdvance;
    }
}

std::string Upper(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

} // namespace

int RunPlay(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    CLI::App app("Run FILE in a libretro core from power-on, with no input, and write frame N "
                 "as a PNG.",
                 std::string(kProgram) + " play");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.allow_extras();
    std::string file, output, frames, core;
    bool force = false, json = false;
    const std::vector<CLI::Option*> options = {
        app.add_option("FILE", file, "The ROM to run")->type_name(""),
        app.add_option("-o,--output", output, "The PNG to write")->type_name("OUT.png"),
        app.add_option("--frames", frames, "Frames to run, decimal (default: 180)")->type_name("N"),
        app.add_option("--core", core, "The libretro core (default: chosen by the file)")
            ->type_name("PATH"),
        app.add_flag("--force", force, "Replace OUT.png if it is a plain file")
            ->disable_flag_override(),
        app.add_flag("--json", json, "Print one JSON object")->disable_flag_override(),
    };
    try {
        try {
            std::vector<std::string> reversed(words.rbegin(), words.rend());
            app.parse(reversed);
        } catch (const CLI::ParseError& error) {
            if (error.get_exit_code() == 0)
                return app.exit(error, out, err);
            throw UsageError(error.what());
        }
        for (const std::string& extra : app.remaining())
            if (extra != "--")
                throw UsageError("not understood: " + extra);
        for (const CLI::Option* option : options)
            if (option->count() > 1)
                throw UsageError(option->get_name() + ": given twice");
        if (file.empty())
            throw UsageError("FILE is missing");
        if (output.empty())
            throw UsageError("--output is missing");
        const std::uint32_t count = frames.empty() ? kDefaultFrames : ParseFrames(frames);

        const Rom rom = ReadRom(file);
        CheckTarget(output, {rom.id}, force);
        play::Session session;
        const Try tried = PlayFile(
            session, file, rom, core.empty() ? std::nullopt : std::optional(PathOf(core)), count);
        if (json)
            out << Dumped(TryJson(tried, file, count)) << '\n';
        if (!tried.result.ok())
            throw Failure(Why(tried, file));
        PublishPng(output, {rom.id}, force, tried.frame);
        if (!json)
            out << output << ": frame " << count << " of " << file << " in "
                << play::CoreName(*tried.core) << ", " << tried.frame.width << "x"
                << tried.frame.height << ", frame CRC-32 " << Hex8(play::FrameCrc32(tried.frame))
                << '\n';
        if (!out.flush())
            throw Failure("cannot print to the standard output");
        return 0;
    } catch (const UsageError& error) {
        err << kProgram << ": " << Shown(error.what()) << "; see " << kProgram << " play --help\n";
        return 2;
    } catch (const Failure& error) {
        err << kProgram << ": " << Shown(error.what()) << '\n';
        return 1;
    }
}

int WriteContactSheet(const std::vector<SheetVariant>& variants, const SheetRequest& request,
                      std::ostream& out, std::ostream& err) {
    try {
        std::vector<FileId> kept;
        for (const std::string& name : {request.input}) {
            if (const auto facts = FactsAt(PathOf(name)))
                kept.push_back(facts->id);
        }
        for (const SheetVariant& variant : variants)
            if (const auto facts = FactsAt(PathOf(variant.file)))
                kept.push_back(facts->id);
        CheckTarget(request.sheet, kept, request.force);
        const std::size_t cells = std::min(variants.size(), kMostSheetCells);
        if (variants.size() > cells)
            err << kProgram << ": the sheet shows the first " << cells << " of " << variants.size()
                << " variants\n";

        play::Session session;
        std::vector<Try> tries;
        std::vector<std::string> labels;
        std::uint32_t width = 64, height = 48;
        bool sized = false;
        for (std::size_t i = 0; i < cells; ++i) {
            Try tried;
            try {
                tried = PlayFile(session, variants[i].file, ReadRom(variants[i].file),
                                 request.core.empty() ? std::nullopt
                                                      : std::optional(PathOf(request.core)),
                                 request.frames);
            } catch (const Failure& error) {
                tried.result = {Outcome::Failed, error.what()};
            }
            if (tried.result.ok()) {
                width = sized ? std::max(width, tried.frame.width) : tried.frame.width;
                height = sized ? std::max(height, tried.frame.height) : tried.frame.height;
                sized = true;
            }
            labels.push_back("SEED " + std::to_string(variants[i].seed) + " " +
                             Upper(OutcomeWord(tried)));
            tries.push_back(std::move(tried));
        }
        std::uint32_t cellWidth = width;
        for (const std::string& label : labels)
            cellWidth =
                std::max(cellWidth, static_cast<std::uint32_t>(label.size()) * kAdvance + 4);
        const std::uint32_t cellHeight = height + kLabelHeight;
        const auto columns = static_cast<std::uint32_t>(
            std::max(1.0, std::ceil(std::sqrt(static_cast<double>(cells)))));
        const auto rows =
            static_cast<std::uint32_t>(std::max<std::size_t>(1, (cells + columns - 1) / columns));
        play::Frame sheet;
        sheet.width = kGap + columns * (cellWidth + kGap);
        sheet.height = kGap + rows * (cellHeight + kGap);
        sheet.rgb.assign(std::size_t{sheet.width} * sheet.height * 3, 0x30);
        for (std::size_t i = 0; i < cells; ++i) {
            const auto column = static_cast<std::uint32_t>(i % columns);
            const auto row = static_cast<std::uint32_t>(i / columns);
            const std::uint32_t left = kGap + column * (cellWidth + kGap);
            const std::uint32_t top = kGap + row * (cellHeight + kGap);
            for (std::uint32_t y = 0; y < cellHeight; ++y) // black behind the frame and label
                std::fill_n(sheet.rgb.begin() +
                                std::ptrdiff_t((std::size_t{top + y} * sheet.width + left) * 3),
                            cellWidth * 3, 0);
            const play::Frame& frame = tries[i].frame;
            if (tries[i].result.ok()) {
                const std::uint32_t x = left + (cellWidth - frame.width) / 2;
                for (std::uint32_t y = 0; y < frame.height; ++y)
                    std::copy_n(frame.rgb.begin() +
                                    std::ptrdiff_t(std::size_t{y} * frame.width * 3),
                                frame.width * 3,
                                sheet.rgb.begin() +
                                    std::ptrdiff_t((std::size_t{top + y} * sheet.width + x) * 3));
            }
            const bool ran = tries[i].result.ok();
            Label(sheet, left + 2, top + height + 2, labels[i],
                  ran ? std::array<std::uint8_t, 3>{0xE0, 0xE0, 0xE0}
                      : std::array<std::uint8_t, 3>{0xFF, 0x60, 0x40});
        }
        PublishPng(request.sheet, kept, request.force, sheet);
        if (request.json) {
            Json list = Json::array();
            for (std::size_t i = 0; i < cells; ++i) {
                Json cell = TryJson(tries[i], variants[i].file, request.frames);
                cell["seed"] = variants[i].seed;
                list.push_back(std::move(cell));
            }
            out << Dumped({{"sheet", request.sheet}, {"cells", std::move(list)}}) << '\n';
        } else {
            const auto ran =
                std::ranges::count_if(tries, [](const Try& t) { return t.result.ok(); });
            out << request.sheet << ": a contact sheet of " << cells << " variants, " << ran
                << " ran\n";
        }
        if (!out.flush())
            throw Failure("cannot print to the standard output");
        return 0;
    } catch (const Failure& error) {
        err << kProgram << ": " << Shown(error.what()) << '\n';
        return 1;
    }
}

} // namespace glitchwerk
