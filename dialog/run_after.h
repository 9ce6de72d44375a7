// SPDX-License-Identifier: MIT
#pragma once
// Run after corrupt: a command started on the file after each successful
// corruption, and closed, with whatever it started, before the file is
// written again and when the run ends.

#include "dialog/panel_context.h"
#include "engine/file_stream.h"

#include <string>
#include <vector>

namespace glitchwerk {

// A command line split as a shell splits words (blanks, quotes, backslashes),
// without running one. Each %f, quoted or not, becomes `file` inside its
// word; %% is a %.
std::vector<std::string> SplitCommand(const std::string& line, const std::string& file = "%f");

class CRunAfter {
  public:
    explicit CRunAfter(PanelContext& context) : m_context(context) {}
    ~CRunAfter() { Stop(); }
    CRunAfter(const CRunAfter&) = delete;
    CRunAfter& operator=(const CRunAfter&) = delete;

    // Starts the panel's command on the file, the one before closed first. A
    // command that cannot start is told once.
    void Start();
    // Asks the program started last and all it started to close, and ends
    // them after two seconds.
    void Stop();

  private:
    PanelContext& m_context;
    StartedProgram m_program;
    std::string m_failedCommand;
};

} // namespace glitchwerk
