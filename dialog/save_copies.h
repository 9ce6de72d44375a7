// SPDX-License-Identifier: MIT
#pragma once
// Saving copies: the file as it is now (Save copy as), and the bytes of a
// history row made anew from the pristine copy, with its recipe beside it
// (Save try). Neither ever goes over the run's files or another run's.

#include "dialog/panel_context.h"

#include <filesystem>

namespace glitchwerk {

class CSaveCopies {
  public:
    explicit CSaveCopies(PanelContext& context) : m_context(context) {}

    void SaveCopyAs();
    void SaveTry();

  private:
    // The message that refuses `target`, or nothing when it may be written.
    const char* Refusal(const std::filesystem::path& target) const;

    PanelContext& m_context;
};

// `file` with `suffix` after its stem, then ", -2", "-3", ... until no file
// has that name, nor the name with `also` for its extension when given.
std::filesystem::path FreeName(const std::filesystem::path& file, const std::string& suffix,
                               const std::string& also = {});

} // namespace glitchwerk
