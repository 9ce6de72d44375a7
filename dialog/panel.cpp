// SPDX-License-Identifier: MIT
#include "dialog/panel.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "engine/backup_store.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cstring>
#include <ctime>
#include <utility>

namespace glitchwerk {
namespace {

// The words glitchwerk-cli reads for one step.
std::string StepWords(const CorruptionStep& step) {
    const ByteRule& rule = step.rule;
    std::string words = "--range " + HexText(step.startOffset) + ":" + HexText(step.endOffset);
    switch (rule.searchMode) {
    case SearchMode::SearchSpecificByte:
        words += " --search-byte " + HexText(rule.searchValue);
        break;
    case SearchMode::SearchByteRange:
        words += " --search-range " + HexText(rule.searchValue) + ":" + HexText(rule.searchHigh);
        break;
    case SearchMode::SearchAllBytes:
        break;
    }
    switch (rule.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        words += " --set " + HexText(rule.replaceValue);
        break;
    case ReplaceMode::ReplaceIncreaseBy:
        words += " --add " + HexText(rule.replaceValue);
        break;
    case ReplaceMode::ReplaceDecreaseBy:
        words += " --subtract " + HexText(rule.replaceValue);
        break;
    case ReplaceMode::ReplaceRandomByte:
    default:
        words += " --random";
        break;
    }
    if (step.spread.kind == SpreadKind::EveryNth)
        words += " --every " + std::to_string(step.spread.n);
    else if (step.spread.kind == SpreadKind::Pick)
        words += " --pick " + std::to_string(step.spread.n);
    return words;
}

std::string ShellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_-+.,/:=@%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::optional<std::uint32_t> Decimal(const std::string& text, std::uint32_t low,
                                     std::uint32_t high) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
    static const auto kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return table;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

using Json = nlohmann::json;

Json StepJson(const CorruptionStep& step) {
    const ByteRule& r = step.rule;
    return {step.startOffset,
            step.endOffset,
            static_cast<int>(r.searchMode),
            r.searchValue,
            r.searchHigh,
            static_cast<int>(r.replaceMode),
            r.replaceValue,
            static_cast<int>(step.spread.kind),
            step.spread.n};
}

CorruptionStep StepOf(const Json& j) {
    const auto search = j.at(2).get<int>(), replace = j.at(5).get<int>(),
               spread = j.at(7).get<int>();
    if (search < 0 || search > 2 || replace < 0 || replace > 3 || spread < 0 || spread > 2)
        throw std::out_of_range("step");
    return {j.at(0).get<std::uint32_t>(),
            j.at(1).get<std::uint32_t>(),
            {static_cast<SearchMode>(search), j.at(3).get<std::uint8_t>(),
             j.at(4).get<std::uint8_t>(), static_cast<ReplaceMode>(replace),
             j.at(6).get<std::uint8_t>()},
            {static_cast<SpreadKind>(spread), j.at(8).get<std::uint32_t>()}};
}

} // namespace

// On Windows a backslash outside quotes is a path's, as in C:\Emu\emu.exe.
#ifdef _WIN32
constexpr bool kBackslashIsSeparator = true;
#else
constexpr bool kBackslashIsSeparator = false;
#endif

std::vector<std::string> SplitCommand(const std::string& line, const std::string& file) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && i + 1 < line.size() &&
                     std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos)
                word += line[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            inWord = true;
            if (c == '\'' || c == '"')
                quote = c;
            else if (c == '\\' && i + 1 < line.size() && !kBackslashIsSeparator)
                word += line[++i];
            else if (c == '%' && i + 1 < line.size() && line[i + 1] == 'f')
                word += file, ++i;
            else
                word += c;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::string RecipeOf(const Chain& chain, const std::string& input, const std::string& output,
                     std::uint32_t crc) {
    std::string recipe = "glitchwerk-cli corrupt " + ShellWord(input) + " -o " + ShellWord(output) +
                         " --seed " + std::to_string(chain.seed);
    if (chain.draw)
        recipe += " --draw " + std::to_string(chain.draw);
    char crcText[9];
    std::snprintf(crcText, sizeof crcText, "%08X", crc);
    recipe += std::string(" --expect-crc32 ") + crcText;
    for (std::size_t i = 0; i < chain.steps.size(); ++i)
        recipe += (i ? " --then " : " ") + StepWords(chain.steps[i]);
    return recipe;
}

PreviewSource ReadPreviewSource(std::FILE* file, std::uint64_t length, const FileParts& parts,
                                std::uint64_t rangeStart, std::uint64_t rangeEnd) {
    PreviewSource source;
    const bool rom = parts.kind == FileKind::INes || parts.kind == FileKind::GameBoy ||
                     parts.kind == FileKind::Snes;
    source.image =
        parts.kind == FileKind::Jpeg || parts.kind == FileKind::Bmp || parts.kind == FileKind::Png;
    source.layout = parts.kind == FileKind::GameBoy ? TileLayout::GameBoy : TileLayout::Nes;
    if (source.image && length > kMostPreviewBytes)
        return source.why = messages::kPreviewTooLarge, source;
    const auto read = [&](std::uint64_t at, std::uint64_t end, std::vector<std::uint8_t>& bytes) {
        bytes.resize(static_cast<std::size_t>(end - at));
        std::size_t got = 0;
        if (!ReadAt(file, at, bytes.data(), bytes.size(), got))
            return false;
        bytes.resize(got);
        return true;
    };
    if (!rom && length <= kMostPreviewBytes && !read(0, length, source.file))
        return source.why = messages::kPreviewNotRead, source;
    if (source.image)
        return source;
    const FilePart* chr = parts.kind == FileKind::INes ? FindPart(parts, "chr") : nullptr;
    std::uint64_t start = chr ? chr->start : rangeStart;
    std::uint64_t end = std::min(chr ? chr->end : rangeEnd, length);
    end = std::min(end, start + kMostTiles * kTileBytes);
    if (start >= end)
        return source;
    if (!source.file.empty()) {
        source.tiles.assign(source.file.begin() + static_cast<std::ptrdiff_t>(start),
                            source.file.begin() + static_cast<std::ptrdiff_t>(end));
    } else if (!read(start, end, source.tiles)) {
        source.why = messages::kPreviewNotRead;
    }
    return source;
}

PreviewPicture DrawPreview(const PreviewSource& source, const ImageDecoder& decode) {
    if (!source.why.empty())
        return {0, 0, 1, {}, source.why};
    if (!source.file.empty() && decode) {
        if (std::optional<PreviewPicture> picture = decode(source.file))
            return std::move(*picture);
    }
    if (source.image)
        return {0, 0, 1, {}, messages::kPreviewNoImage};
    GreyImage tiles = DecodeTiles(source.tiles, source.layout);
    if (tiles.pixels.empty())
        return {0, 0, 1, {}, messages::kPreviewNoTiles};
    return {tiles.width, tiles.height, 1, std::move(tiles.pixels), {}};
}

CPanel::CPanel(CGlitchwerkDlg& dialog, DialogView& dialogView)
    : m_dialog(dialog), m_dialogView(dialogView) {}

void CPanel::OnCommand(int id) {
    switch (id) {
    case IDC_APPLY_AGAIN:
        return ApplyAgain();
    case IDC_SAVE_COPY:
        return SaveCopy();
    case IDC_COPY_RECIPE:
        return CopyRecipe();
    case IDC_SPREAD_EVERY:
    case IDC_SPREAD_NTH:
    case IDC_SPREAD_PICK:
        for (const int each : {IDC_SPREAD_EVERY, IDC_SPREAD_NTH, IDC_SPREAD_PICK})
            m_view->SetChecked(each, each == id);
        m_view->SetEnabled(IDC_SPREAD_N, id == IDC_SPREAD_NTH);
        m_view->SetEnabled(IDC_SPREAD_K, id == IDC_SPREAD_PICK);
        return SaveKept();
    case IDC_QUIET_RESULTS:
        return SaveKept();
    case IDC_HISTORY:
        return ShowRows();
    case IDC_PARTS:
        return ChoosePart();
    case IDC_KEEP_HISTORY:
        if (m_view->IsChecked(IDC_KEEP_HISTORY))
            return SaveKept();
        if (const std::filesystem::path file = KeptFile(); !file.empty()) {
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
        }
        return;
    default:
        return;
    }
}

void CPanel::Show() {
    if (!m_view)
        return;
    if (m_view->FieldText(IDC_SPREAD_N).empty())
        m_view->SetFieldText(IDC_SPREAD_N, "2");
    if (m_view->FieldText(IDC_SPREAD_K).empty())
        m_view->SetFieldText(IDC_SPREAD_K, "16");
    if (!m_loaded)
        LoadKept();
    if (!m_view->IsChecked(IDC_SPREAD_NTH) && !m_view->IsChecked(IDC_SPREAD_PICK))
        OnCommand(IDC_SPREAD_EVERY);
    ShowRows();
    ShowParts();
    Preview();
}

void CPanel::ShowParts() {
    // Found once, on the original's bytes in the data file: the parts of what
    // the user opened, whatever a corruption made of the file since.
    if (!m_parts && m_dialog.m_backup.dataFile) {
        std::FILE* data = m_dialog.m_backup.dataFile.get();
        m_parts =
            FindParts(m_dialog.m_backup.romLength,
                      [data](std::uint64_t at, std::uint8_t* buffer, std::size_t size,
                             std::size_t& got) { return ReadAt(data, at, buffer, size, got); });
    }
    std::vector<std::string> rows;
    if (m_parts) {
        for (const FilePart& part : m_parts->parts) {
            rows.push_back(part.name + "  " + HexText(static_cast<std::uint32_t>(part.start)) +
                           ":" + HexText(static_cast<std::uint32_t>(part.end)));
        }
    }
    m_view->ShowParts(rows);
}

void CPanel::ChoosePart() {
    const int row = m_view->SelectedPart();
    if (!m_parts || row < 0 || row >= static_cast<int>(m_parts->parts.size()))
        return;
    const FilePart& part = m_parts->parts[static_cast<std::size_t>(row)];
    m_dialogView.SetFieldText(IDC_RANGE_START, HexText(static_cast<std::uint32_t>(part.start)));
    m_dialogView.SetFieldText(IDC_RANGE_END, HexText(static_cast<std::uint32_t>(part.end)));
    Preview();
}

void CPanel::Preview() {
    if (!IsOpen())
        return;
    const std::uint64_t number = ++*m_preview;
    auto source = std::make_shared<PreviewSource>();
    const FileParts parts = m_parts.value_or(FileParts{FileKind::Other, {}});
    const Form form = m_dialog.ReadForm();
    FileHandle file = OpenEditedFile(m_dialog.m_backup, m_dialog.m_backup.romPath);
    const std::int64_t length = file ? StreamLength(file.get()) : -1;
    if (length < 0)
        source->why = messages::kPreviewNotRead;
    else
        *source = ReadPreviewSource(file.get(), static_cast<std::uint64_t>(length), parts,
                                    ParseHexField(form.rangeStart), ParseHexField(form.rangeEnd));
    file.reset();
    auto picture = std::make_shared<PreviewPicture>();
    m_view->RunInBackground(
        [source, picture, latest = m_preview, number, decode = m_view->PreviewDecoder()] {
            if (*latest == number)
                *picture = DrawPreview(*source, decode);
        },
        [this, picture, number] {
            if (*m_preview == number && IsOpen())
                m_view->ShowPreview(*picture);
        });
}

std::filesystem::path CPanel::KeptFile() {
    const std::filesystem::path folder = m_view ? m_view->DataFolder() : std::filesystem::path();
    const std::optional<std::uint32_t> crc = folder.empty() ? std::nullopt : OriginalCrc();
    if (!crc)
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "history-%08X-%X.jsonl", *crc, m_dialog.m_backup.romLength);
    return folder / name;
}

// The first line holds the settings, each further line a chain.
void CPanel::LoadKept() {
    m_loaded = true;
    const std::filesystem::path file = KeptFile();
    FileHandle in = file.empty() ? nullptr : OpenFile(file, OpenHow::Reading);
    if (!in)
        return;
    std::string text;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, in.get())) != 0;)
        text.append(block, got);
    const bool read = !std::ferror(in.get());
    in.reset();
    std::vector<Chain> kept;
    try {
        std::size_t at = 0;
        for (int line = 0; read && at < text.size(); ++line) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            const Json j = Json::parse(text.substr(at, end - at));
            at = end + 1;
            if (line == 0) {
                for (const auto& [id, key] : {std::pair{IDC_SPREAD_N, "n"},
                                              {IDC_SPREAD_K, "k"},
                                              {IDC_RUN_AFTER, "runAfter"}})
                    m_view->SetFieldText(id, j.at(key).get<std::string>());
                const int spread = j.at("spread").get<int>();
                OnCommand(spread == 1   ? IDC_SPREAD_NTH
                          : spread == 2 ? IDC_SPREAD_PICK
                                        : IDC_SPREAD_EVERY);
                m_view->SetChecked(IDC_QUIET_RESULTS, j.at("quiet").get<bool>());
                continue;
            }
            Chain& chain = kept.emplace_back();
            chain.when = j.at("when").get<std::string>();
            chain.seed = j.at("seed").get<std::uint32_t>();
            chain.draw = j.at("draw").get<std::uint64_t>();
            chain.hits = j.at("hits").get<std::uint64_t>();
            chain.complete = j.at("complete").get<bool>();
            for (const Json& step : j.at("steps"))
                chain.steps.push_back(StepOf(step));
        }
        if (!read)
            throw std::runtime_error("unread");
    } catch (const std::exception&) {
        // Set aside, never in the way again; told once.
        std::filesystem::path aside = file;
        aside += ".damaged";
        std::error_code ignored;
        std::filesystem::rename(file, aside, ignored);
        m_dialogView.ShowMessage(messages::HistorySetAside(PathText(aside)), MessageButtons::Ok);
        return;
    }
    m_view->SetChecked(IDC_KEEP_HISTORY, true);
    m_chains.insert(m_chains.begin(), kept.begin(), kept.end());
}

void CPanel::SaveKept() {
    if (!m_view || !m_view->IsChecked(IDC_KEEP_HISTORY))
        return;
    const std::filesystem::path file = KeptFile();
    if (file.empty())
        return;
    const int spread = m_view->IsChecked(IDC_SPREAD_NTH)    ? 1
                       : m_view->IsChecked(IDC_SPREAD_PICK) ? 2
                                                            : 0;
    std::string text = Json{{"spread", spread},
                            {"n", m_view->FieldText(IDC_SPREAD_N)},
                            {"k", m_view->FieldText(IDC_SPREAD_K)},
                            {"runAfter", m_view->FieldText(IDC_RUN_AFTER)},
                            {"quiet", m_view->IsChecked(IDC_QUIET_RESULTS)}}
                           .dump(-1, ' ', false, Json::error_handler_t::replace) +
                       '\n';
    for (const Chain& chain : m_chains) {
        Json steps = Json::array();
        for (const CorruptionStep& step : chain.steps)
            steps.push_back(StepJson(step));
        text += Json{{"when", chain.when}, {"seed", chain.seed},         {"draw", chain.draw},
                     {"hits", chain.hits}, {"complete", chain.complete}, {"steps", steps}}
                    .dump() +
                '\n';
    }
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::filesystem::path partial = file;
    partial += ".partial";
    std::filesystem::remove(partial, error); // our own, left by a run that stopped
    FileHandle out = OpenFile(partial, OpenHow::New);
    const bool written = out &&
                         std::fwrite(text.data(), 1, text.size(), out.get()) == text.size() &&
                         FlushToDisk(out.get()) && CloseStream(out);
    if (written)
        std::filesystem::rename(partial, file, error);
    if (!written || error) {
        std::filesystem::remove(partial, error);
        m_view->ShowText(IDC_PANEL_STATUS, messages::kHistoryNotKept);
    }
}

void CPanel::ShowRows() {
    if (!m_view)
        return;
    int selected = m_view->SelectedRow();
    std::vector<std::string> rows;
    for (const Chain& chain : m_chains) {
        // When, the seed and draw, the hits, then the steps in short.
        std::string row = chain.when + "  seed " + std::to_string(chain.seed) + ", draw " +
                          std::to_string(chain.draw) + "  " + std::to_string(chain.hits) + " hit" +
                          (chain.complete ? "" : " (incomplete)") + " ";
        for (const CorruptionStep& step : chain.steps) {
            std::string words = StepWords(step).substr(std::strlen("--range "));
            for (std::size_t at; (at = words.find("--")) != std::string::npos;)
                words.erase(at, 2);
            row += " | " + words;
        }
        rows.push_back(std::move(row));
    }
    if (selected >= static_cast<int>(rows.size()))
        selected = -1;
    m_view->ShowHistory(rows, selected);
    const Chain* chain = Selected();
    const bool replayable = chain && chain->complete;
    m_view->SetEnabled(IDC_APPLY_AGAIN, replayable);
    m_view->SetEnabled(IDC_COPY_RECIPE, replayable);
}

const Chain* CPanel::Selected() const {
    const int row = m_view ? m_view->SelectedRow() : -1;
    return row >= 0 && row < static_cast<int>(m_chains.size()) ? &m_chains[row] : nullptr;
}

std::optional<Spread> CPanel::ReadSpread() {
    if (!IsOpen() || m_view->IsChecked(IDC_SPREAD_EVERY))
        return Spread{};
    if (m_view->IsChecked(IDC_SPREAD_NTH)) {
        if (const auto n = Decimal(m_view->FieldText(IDC_SPREAD_N), 1, 0xFFFFFFFF))
            return Spread{SpreadKind::EveryNth, *n};
        m_dialogView.ShowMessage(messages::kBadEvery, MessageButtons::Ok);
        return std::nullopt;
    }
    if (m_view->IsChecked(IDC_SPREAD_PICK)) {
        if (const auto k = Decimal(m_view->FieldText(IDC_SPREAD_K), 1, kMostPicked))
            return Spread{SpreadKind::Pick, *k};
        m_dialogView.ShowMessage(messages::kBadPick, MessageButtons::Ok);
        return std::nullopt;
    }
    return Spread{};
}

void CPanel::BeforeWrite() {
    CloseProgram();
}

RandomStream& CPanel::StreamFor(RandomStream& runStream) {
    if (!m_chainOpen)
        m_chainStream = m_chainBegin = runStream;
    return m_chainStream;
}

void CPanel::Record(const CorruptionStep& step, PassOutcome outcome, const CorruptionResult& result,
                    std::uint32_t fileLength) {
    if (outcome == PassOutcome::NotOpened)
        return;
    if (!m_chainOpen) {
        const RandomStream before = m_chainBegin;
        m_chains.push_back({Now(), before.seed, before.draw, {}, 0, before, true});
        m_chainOpen = true;
    }
    Chain& chain = m_chains.back();
    if (step.startOffset < std::min(step.endOffset, fileLength))
        chain.steps.push_back(step);
    chain.next = m_chainStream;
    if (outcome == PassOutcome::Incomplete) {
        chain.complete = false;
        m_chainOpen = false;
    } else {
        chain.hits += static_cast<std::uint64_t>(result.totalBytes);
    }
    ShowRows();
    SaveKept();
}

void CPanel::Tell(const std::string& text) {
    if (IsOpen() && m_view->IsChecked(IDC_QUIET_RESULTS))
        m_view->ShowText(IDC_PANEL_STATUS, text);
    else
        m_dialogView.ShowMessage(text, MessageButtons::Ok);
}

void CPanel::RunAfterCorrupt() {
    if (!IsOpen())
        return;
    const std::string line = m_view->FieldText(IDC_RUN_AFTER);
    const std::vector<std::string> args = SplitCommand(line, PathText(m_dialog.m_backup.romPath));
    if (args.empty())
        return;
    CloseProgram();
    std::string reason;
    if (StartProgram(args, m_program, reason) || line == m_failedCommand)
        return;
    m_failedCommand = line;
    m_dialogView.ShowMessage(messages::CommandNotStarted(args.front(), reason), MessageButtons::Ok);
}

void CPanel::ApplyAgain() {
    const Chain* selected = Selected();
    if (!selected || !selected->complete)
        return;
    const Chain chain = *selected;
    BeforeWrite();
    if (!m_dialog.Restore()) {
        m_dialogView.ShowMessage(messages::kRestoreFailed, MessageButtons::Ok);
        return;
    }
    m_chainOpen = false;
    m_chainStream = {chain.seed, chain.draw};
    const CorruptionRequest request{m_dialog.m_backup.romPath, m_dialog.m_backup.romLength,
                                    chain.steps};
    std::vector<CorruptionResult> results;
    PassOutcome outcome = PassOutcome::NotOpened;
    m_dialogView.RunWithProgress(messages::kCorrupting, [&](const Progress& p) {
        outcome = RunCorruptionPass(m_dialog.m_backup, request, m_chainStream, results, p);
    });
    if (outcome == PassOutcome::NotOpened) {
        m_dialogView.ShowMessage(messages::kCorruptNotOpened, MessageButtons::Ok);
        return;
    }
    Chain again = chain;
    again.when = Now();
    again.next = m_chainStream;
    again.complete = outcome == PassOutcome::Done;
    again.hits = 0;
    for (const CorruptionResult& result : results)
        again.hits += static_cast<std::uint64_t>(result.totalBytes);
    m_chains.push_back(std::move(again));
    m_chainOpen = outcome == PassOutcome::Done;
    ShowRows();
    Preview();
    SaveKept();
    if (outcome == PassOutcome::Incomplete)
        return (void)m_dialogView.ShowMessage(messages::kCorruptIncomplete, MessageButtons::Ok);
    Tell(messages::kCorrupted);
    RunAfterCorrupt();
}

void CPanel::CopyRecipe() {
    const Chain* chain = Selected();
    if (!chain || !chain->complete)
        return;
    const std::optional<std::uint32_t> crc = OriginalCrc();
    if (!crc)
        return (void)m_dialogView.ShowMessage(messages::kNoOriginalCrc, MessageButtons::Ok);
    const std::filesystem::path& rom = m_dialog.m_backup.romPath;
    const std::filesystem::path output =
        rom.parent_path() / (rom.stem().string() + "-glitch" + rom.extension().string());
    m_view->SetClipboardText(RecipeOf(*chain, PathText(rom), PathText(output), *crc));
    m_view->ShowText(IDC_PANEL_STATUS, messages::kRecipeCopied);
}

std::optional<std::uint32_t> CPanel::OriginalCrc() {
    if (m_crc)
        return m_crc;
    std::FILE* data = m_dialog.m_backup.dataFile.get();
    if (!data)
        return std::nullopt;
    std::vector<std::uint8_t> block(kHashedBlock);
    std::uint32_t crc = 0;
    for (std::uint64_t at = 0; at < m_dialog.m_backup.romLength;) {
        std::size_t got = 0;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(block.size(), m_dialog.m_backup.romLength - at));
        if (!ReadAt(data, at, block.data(), want, got) || got != want)
            return std::nullopt;
        crc = Crc32(crc, block.data(), got);
        at += got;
    }
    return m_crc = crc;
}

void CPanel::SaveCopy() {
    namespace fs = std::filesystem;
    BackupStore& store = m_dialog.m_backup;
    const fs::path& rom = store.romPath;
    bool replace = false;
    const std::optional<fs::path> target = m_view->AskForSaveName(
        rom.parent_path() / (rom.stem().string() + "-glitch" + rom.extension().string()), replace);
    if (!target)
        return;
    std::error_code error;
    const fs::path dataFile = store.dataFolder / kDataFileName;
    if (fs::weakly_canonical(*target, error) == fs::weakly_canonical(rom, error) ||
        fs::weakly_canonical(*target, error) == fs::weakly_canonical(dataFile, error) ||
        fs::equivalent(*target, rom, error) || fs::equivalent(*target, dataFile, error)) {
        m_dialogView.ShowMessage(messages::kCopyNotOverOwn, MessageButtons::Ok);
        return;
    }
    fs::path partial = fs::path(*target) += ".glitchwerk-partial";
    bool saved = false;
    {
        // Through the run's own handle: the file it edits, whatever its name leads to now.
        std::FILE* from = store.editedFile.get();
        FileHandle to = OpenFile(partial, OpenHow::New);
        if (!to)
            partial.clear(); // not ours: never removed
        const std::int64_t length = from ? StreamLength(from) : -1;
        std::vector<std::uint8_t> block(kHashedBlock);
        saved = to && length >= 0;
        for (std::uint64_t at = 0; saved && at < static_cast<std::uint64_t>(length);) {
            std::size_t got = 0;
            saved = ReadAt(from, at, block.data(), block.size(), got) && got != 0 &&
                    std::fwrite(block.data(), 1, got, to.get()) == got;
            at += got;
        }
        saved = saved && FlushToDisk(to.get()) && CloseStream(to);
    }
    bool existed = false;
    if (saved && !RenameWithoutReplacing(partial, *target, existed)) {
        // Only a plain file the user agreed to replace is replaced.
        saved = existed && replace && fs::is_regular_file(fs::symlink_status(*target, error)) &&
                (fs::rename(partial, *target, error), !error);
    }
    if (!saved) {
        if (!partial.empty())
            fs::remove(partial, error);
        m_dialogView.ShowMessage(messages::CopyNotSaved(PathText(*target)), MessageButtons::Ok);
        return;
    }
    Tell(messages::kCopySaved);
}

} // namespace glitchwerk
