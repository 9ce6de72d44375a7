// SPDX-License-Identifier: MIT
#pragma once
// Recipes in the panel: a history row's recipe put on the clipboard, and a
// recipe opened from a file or pasted, applied to this run's file from its
// pristine copy as a new row.

#include "dialog/history.h"
#include "dialog/panel_context.h"

#include <string>

namespace glitchwerk {

// "-SEED-DRAW", in decimal: what a try's file and recipe are named after.
std::string TrySuffix(const Chain& chain);

class CRecipes {
  public:
    CRecipes(PanelContext& context, CHistory& history) : m_context(context), m_history(history) {}

    void CopyRecipe();
    void OpenRecipe();
    void PasteRecipe();

  private:
    void Apply(const std::string& text);

    PanelContext& m_context;
    CHistory& m_history;
};

} // namespace glitchwerk
