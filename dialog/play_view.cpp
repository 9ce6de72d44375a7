// SPDX-License-Identifier: MIT
#include "dialog/play_view.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "engine/file_stream.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace glitchwerk {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kMostPlayed = 256u << 20;
// Behind by more than this, the game skips the frames rather than racing.
constexpr int kMostCaughtUp = 6;

// The thumbnails that wait hold a copy of their file each: tries made faster
// than their thumbnails drop the oldest that wait, beyond four or 256 MiB.
std::size_t WaitingThumbnails(std::size_t fileSize) {
    return std::clamp<std::size_t>((std::size_t{256} << 20) / std::max<std::size_t>(fileSize, 1), 1,
                                   4);
}

} // namespace

namespace playing {

using Rom = std::shared_ptr<const std::vector<std::uint8_t>>;

struct LiveJob {
    fs::path core;
    fs::path file;
    FileId id;
    std::string tryId;
};

struct StillJob {
    fs::path core;
    Rom rom;
    std::string name;
    std::string tryId;
};

// Jobs for one worker thread; a generation that Stop() moves on.
template <class Job> class Jobs {
  public:
    // At most `most` jobs wait, the newest: the oldest go first.
    void Put(Job job, std::size_t most) {
        const std::lock_guard lock(m_mutex);
        while (!m_jobs.empty() && m_jobs.size() >= most)
            m_jobs.pop_front();
        m_jobs.push_back(std::move(job));
        ++m_generation;
        m_wake.notify_all();
    }
    // The next job and its generation, or none once ended.
    std::optional<std::pair<Job, std::uint64_t>> Take() {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_quit || !m_jobs.empty(); });
        if (m_quit)
            return std::nullopt;
        std::pair<Job, std::uint64_t> next{std::move(m_jobs.front()), m_generation};
        m_jobs.pop_front();
        return next;
    }
    // Until `until`; false as soon as the job of `generation` is over.
    bool WaitUntil(Clock::time_point until, std::uint64_t generation) {
        std::unique_lock lock(m_mutex);
        return !m_wake.wait_until(lock, until,
                                  [&] { return m_quit || m_generation != generation; });
    }
    bool Current(std::uint64_t generation) const {
        const std::lock_guard lock(m_mutex);
        return !m_quit && m_generation == generation;
    }
    void Stop() {
        const std::lock_guard lock(m_mutex);
        m_jobs.clear();
        ++m_generation;
        m_wake.notify_all();
    }
    void Quit() {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_wake.notify_all();
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::uint64_t m_generation = 0;
    bool m_quit = false;
};

} // namespace playing

namespace {

// The file's bytes, when it is still the run's file.
std::optional<std::vector<std::uint8_t>> ReadRom(const fs::path& path, const FileId& id,
                                                 std::string& why) {
    FileHandle file = OpenFile(path, OpenHow::Reading);
    FileFacts facts;
    why = messages::kPlayNotRead;
    if (!file || !ReadFacts(file.get(), facts) || facts.id != id || facts.length < 0)
        return std::nullopt;
    if (static_cast<std::uint64_t>(facts.length) > kMostPlayed)
        return why = messages::kPlayTooLarge, std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(facts.length));
    std::size_t got = 0;
    if (!ReadAt(file.get(), 0, bytes.data(), bytes.size(), got) || got != bytes.size())
        return std::nullopt;
    return bytes;
}

std::string EndedText(const play::Result& result) {
    switch (result.outcome) {
    case play::Outcome::Refused:
        return messages::kPlayRefused;
    case play::Outcome::Crashed:
        return messages::kPlayCrashed;
    case play::Outcome::Hung:
        return messages::PlayHung(result.missed.count());
    default:
        return result.detail;
    }
}

} // namespace

PlaySetup InstalledPlaySetup() {
    return {play::InstalledCoreFolders(), {}};
}

play::Frame Shrunk(const play::Frame& frame, std::uint32_t side) {
    std::uint32_t by = 1;
    while (frame.width / by > side || frame.height / by > side)
        ++by;
    play::Frame small{frame.width / by, frame.height / by, {}};
    small.rgb.reserve(std::size_t{small.width} * small.height * 3);
    for (std::uint32_t y = 0; y < small.height; ++y) {
        for (std::uint32_t x = 0; x < small.width; ++x) {
            const std::uint8_t* at =
                frame.rgb.data() + (std::size_t{y} * by * frame.width + std::size_t{x} * by) * 3;
            small.rgb.insert(small.rgb.end(), at, at + 3);
        }
    }
    return small;
}

std::string OutcomeWord(play::Outcome outcome) {
    switch (outcome) {
    case play::Outcome::Ran:
        return "ran";
    case play::Outcome::Refused:
        return "refused";
    case play::Outcome::Crashed:
        return "crashed";
    case play::Outcome::Hung:
        return "hung";
    default:
        return "";
    }
}

// The live game's thread and the thumbnails', each with a helper of its own.
using namespace playing;

struct CPlay::Workers {
    Workers(PanelContext& context, CHistory& history, const PlaySetup& setup,
            std::shared_ptr<std::atomic<std::uint16_t>> keys)
        : context(context), history(history), live(setup.session), still(setup.session),
          keys(std::move(keys)) {
        liveThread = std::thread([this] { LiveLoop(); });
        stillThread = std::thread([this] { StillLoop(); });
    }
    ~Workers() {
        Detach();
        liveJobs.Quit();
        stillJobs.Quit();
        live.Stop();
        still.Stop();
        liveThread.join();
        stillThread.join();
    }

    void Post(std::function<void()> task) {
        const std::lock_guard lock(outboxMutex);
        if (view)
            view->Post(std::move(task));
    }
    void Detach() {
        const std::lock_guard lock(outboxMutex);
        view = nullptr;
    }

    void LiveLoop() {
        while (auto next = liveJobs.Take())
            Live(next->first, next->second);
    }

    void Live(const LiveJob& job, std::uint64_t generation) {
        std::string why;
        std::optional<std::vector<std::uint8_t>> bytes = ReadRom(job.file, job.id, why);
        if (!liveJobs.Current(generation))
            return;
        if (!bytes)
            return Ended(generation, why);
        const Rom rom = std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
        const std::string name = PathText(job.file.filename());
        // The thumbnail's run once the first frame is on its way, not to slow it down.
        bool handed = false;
        const auto hand = [&] {
            if (!std::exchange(handed, true))
                stillJobs.Put({job.core, rom, name, job.tryId}, WaitingThumbnails(rom->size()));
        };
        asking = true;
        play::Result result = live.Load(job.core, *rom, name);
        asking = false;
        Clock::time_point next = Clock::now();
        play::Frame frame;
        std::vector<std::uint16_t> joypad;
        while (result.ok()) {
            // The frames due since the last, each with the keys held now.
            const Clock::time_point now = Clock::now();
            int due = 1;
            if (now > next)
                due = std::min<int>(kMostCaughtUp,
                                    1 + static_cast<int>((now - next) / kPlayFrameTime));
            if (now - next > kPlayFrameTime * kMostCaughtUp)
                next = now;
            joypad.assign(static_cast<std::size_t>(due), keys->load());
            asking = true;
            result = live.Frames(joypad, frame);
            asking = false;
            if (!result.ok())
                break;
            Show(generation, frame);
            hand();
            next += kPlayFrameTime * due;
            if (!liveJobs.WaitUntil(next, generation))
                return;
        }
        if (result.outcome == play::Outcome::Stopped)
            return;
        hand();
        Ended(generation, EndedText(result));
    }

    void Show(std::uint64_t generation, play::Frame& frame) {
        {
            const std::lock_guard lock(frameMutex);
            std::swap(latest, frame);
            if (std::exchange(framePosted, true))
                return; // the one posted shows this one
        }
        Post([this, generation] {
            play::Frame shown;
            {
                const std::lock_guard lock(frameMutex);
                shown = latest;
                framePosted = false;
            }
            if (!context.IsOpen())
                return liveJobs.Stop(); // the panel was closed: so is the game
            if (liveJobs.Current(generation)) {
                context.view->ShowPlayState("");
                context.view->ShowFrame(shown);
            }
        });
    }

    void Ended(std::uint64_t generation, const std::string& text) {
        Post([this, generation, text] {
            if (liveJobs.Current(generation) && context.IsOpen())
                context.view->ShowPlayState(text);
        });
    }

    void StillLoop() {
        while (auto next = stillJobs.Take()) {
            const StillJob& job = next->first;
            play::Frame frame;
            const play::Result result =
                play::Play(still, job.core, *job.rom, job.name, kThumbnailFrame, frame);
            const std::string word = OutcomeWord(result.outcome);
            if (word.empty())
                continue;
            play::Frame thumbnail = result.ok() ? Shrunk(frame, kThumbnailSide) : play::Frame{};
            Post([this, id = job.tryId, word, thumbnail = std::move(thumbnail)]() mutable {
                history.Played(id, word, std::move(thumbnail));
            });
        }
    }

    PanelContext& context;
    CHistory& history;
    std::mutex outboxMutex;
    PanelView* view = context.view;
    play::Session live, still;
    std::atomic<bool> asking{false}; // the live helper is at a request
    Jobs<LiveJob> liveJobs;
    Jobs<StillJob> stillJobs;
    std::shared_ptr<std::atomic<std::uint16_t>> keys;
    std::mutex frameMutex;
    play::Frame latest;
    bool framePosted = false;
    std::thread liveThread, stillThread;
};

CPlay::CPlay(PanelContext& context, CHistory& history) : m_context(context), m_history(history) {}

CPlay::~CPlay() = default;

void CPlay::Show() {
    PanelView& view = *m_context.view;
    if (!m_setup) {
        m_setup = view.Playing();
        std::error_code error;
        for (fs::directory_iterator it(m_setup->cores.cores, error), end; !error && it != end;
             it.increment(error)) {
            if (play::CoreName(it->path()) != it->path().filename().string())
                m_cores.push_back(it->path());
        }
        std::ranges::sort(m_cores);
    }
    const std::optional<fs::path> byFile = ByFile();
    std::vector<std::string> items{messages::kByTheFile +
                                   (byFile ? play::CoreName(*byFile) : messages::kNoCoreTakes)};
    int selected = 0;
    for (const fs::path& core : m_cores) {
        items.push_back(play::CoreName(core));
        if (items.back() == m_chosen)
            selected = static_cast<int>(items.size()) - 1;
    }
    view.ShowChoices(IDC_CORE, items, selected);
    const bool any = !m_cores.empty();
    view.SetEnabled(IDC_CORE, any);
    view.SetEnabled(IDC_PLAY_AFTER, any);
    view.SetEnabled(IDC_PLAY_KEYS, any);
    view.SetChecked(IDC_PLAY_AFTER, any && m_playAfter.value_or(Core().has_value()));
    ShowWhich();
}

std::optional<fs::path> CPlay::Core() const {
    if (!m_setup)
        return std::nullopt;
    if (!m_chosen.empty()) {
        const auto chosen = std::ranges::find(
            m_cores, m_chosen, [](const fs::path& core) { return play::CoreName(core); });
        return chosen == m_cores.end() ? std::nullopt : std::optional(*chosen);
    }
    return ByFile();
}

std::optional<fs::path> CPlay::ByFile() const {
    if (!m_setup)
        return std::nullopt;
    const Original* original = m_context.run.OriginalIfRead();
    return play::ChooseCore(original ? original->parts.kind : FileKind::Other,
                            m_context.run.Backup().romPath, m_setup->cores);
}

void CPlay::ShowWhich() {
    PanelView& view = *m_context.view;
    const bool playing = view.IsChecked(IDC_PLAY_AFTER) && Core();
    if (!playing)
        Stop();
    else if (!m_workers)
        view.ShowPlayState(messages::kPlayWaits);
    view.ShowPlayView(playing);
}

void CPlay::OnChooseCore() {
    const int selected = m_context.view->SelectedChoice(IDC_CORE);
    m_chosen = selected > 0 && static_cast<std::size_t>(selected) <= m_cores.size()
                   ? play::CoreName(m_cores[static_cast<std::size_t>(selected) - 1])
                   : "";
    Show();
}

void CPlay::OnPlayAfter() {
    m_playAfter = m_context.view->IsChecked(IDC_PLAY_AFTER);
    ShowWhich();
}

void CPlay::Start() {
    if (!m_context.IsOpen() || !m_context.view->IsChecked(IDC_PLAY_AFTER))
        return;
    const std::optional<fs::path> core = Core();
    const std::vector<Try>& tries = m_context.run.Tries();
    if (!core || tries.empty())
        return;
    const std::size_t index = m_context.run.OpenTry().value_or(tries.size() - 1);
    if (!m_workers)
        m_workers = std::make_unique<Workers>(m_context, m_history, *m_setup, m_keys);
    const BackupStore& backup = m_context.run.Backup();
    m_workers->liveJobs.Put({*core, backup.romPath, backup.romId, tries.at(index).id}, 1);
}

void CPlay::Stop() {
    if (!m_workers)
        return;
    // No frame runs after the one under way, which is cut short; an idle
    // helper keeps its core open for the next try.
    m_workers->liveJobs.Stop();
    if (m_workers->asking)
        m_workers->live.Stop();
}

void CPlay::Detach() {
    if (m_workers)
        m_workers->Detach();
    m_workers.reset();
}

void CPlay::Apply(const Settings& kept) {
    m_chosen = kept.core;
    m_playAfter = kept.playAfter;
    if (m_context.view)
        Show();
}

void CPlay::Store(Settings& settings) const {
    settings.core = m_chosen;
    settings.playAfter = m_playAfter;
}

} // namespace glitchwerk
