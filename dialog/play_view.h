// SPDX-License-Identifier: MIT
#pragma once
// Play after corrupt: after each successful corruption the file, as it is
// then, boots in glitchwerk-play and runs live in the panel's play view at 60
// frames a second, the keys of the view its joypad; it is stopped before the
// file is written again. Beside it, a run of 180 frames with no input gives
// the history row its outcome and thumbnail. Workers of this feature own the
// helpers: the window's thread never waits on one.

#include "dialog/history.h"
#include "dialog/kept_store.h"
#include "dialog/panel_context.h"
#include "play/play_client.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glitchwerk {

// The frame a thumbnail is made of, and its largest side.
inline constexpr std::uint32_t kThumbnailFrame = 180;
inline constexpr std::uint32_t kThumbnailSide = 64;
inline constexpr auto kPlayFrameTime = std::chrono::microseconds(16'667);

// The installed cores and the helper beside the program.
PlaySetup InstalledPlaySetup();
// `frame` shrunk by a whole factor until no side is over `side`.
play::Frame Shrunk(const play::Frame& frame, std::uint32_t side);
// "ran", "refused", "crashed", "hung"; empty for any other outcome.
std::string OutcomeWord(play::Outcome outcome);

class CPlay {
  public:
    CPlay(PanelContext& context, CHistory& history);
    ~CPlay();
    CPlay(const CPlay&) = delete;
    CPlay& operator=(const CPlay&) = delete;

    // The panel is shown: the core choice, and the play view or the preview.
    void Show();
    void OnChooseCore();
    void OnPlayAfter();
    // After a successful corruption: the file plays, when it is to.
    void Start();
    // The game stops at once: no frame runs after the one under way.
    void Stop();
    // The view goes: nothing is posted to it any more.
    void Detach();
    // The joypad, held while the view has the focus.
    void SetKeys(std::uint16_t joypad) { m_keys->store(joypad); }

    void Apply(const Settings& kept);
    void Store(Settings& settings) const;

  private:
    struct Workers;
    // The core chosen, else the one the file's kind or name chooses.
    std::optional<std::filesystem::path> Core() const;
    std::optional<std::filesystem::path> ByFile() const;
    // The play view in the preview's place when a core plays the file.
    void ShowWhich();

    PanelContext& m_context;
    CHistory& m_history;
    std::optional<PlaySetup> m_setup;
    std::vector<std::filesystem::path> m_cores; // the installed ones, by name
    std::string m_chosen;                       // the core chosen by name; empty: by the file
    std::optional<bool> m_playAfter;            // ticked or kept by the user
    std::shared_ptr<std::atomic<std::uint16_t>> m_keys =
        std::make_shared<std::atomic<std::uint16_t>>(0);
    std::unique_ptr<Workers> m_workers;
};

} // namespace glitchwerk
