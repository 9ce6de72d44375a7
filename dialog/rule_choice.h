// SPDX-License-Identifier: MIT
#pragma once
// The panel's own rules, for its own Corrupt and Re-Corrupt: what a hit byte
// becomes beyond the dialog's four (XOR, a flipped bit, a rotation, a tilt),
// or a rule over the range as a whole (a shift, reversed, swapped or shuffled
// blocks, a copy, smoothing). "As the dialog" leaves the form's rule.

#include "dialog/panel_context.h"
#include "engine/corruption_pass.h"

#include <optional>
#include <string>

namespace glitchwerk {

class CRuleChoice {
  public:
    explicit CRuleChoice(PanelContext& context) : m_context(context) {}

    // The choices into the drop-down list, the first chosen.
    void Show() const;
    // A rule was chosen: its value's field is enabled when it takes one.
    void OnChoose() const;
    // `step` (the form's, with the spread) with the chosen rule; nothing,
    // told, when its value is out of bounds or it cannot go with the step's
    // search or spread.
    std::optional<CorruptionStep> Apply(CorruptionStep step) const;
    // Chooses the rule of `step`, with its value; "As the dialog" for the
    // dialog's own.
    void Choose(const CorruptionStep& step) const;

  private:
    PanelContext& m_context;
};

} // namespace glitchwerk
