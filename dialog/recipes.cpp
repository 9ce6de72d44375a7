// SPDX-License-Identifier: MIT
#include "dialog/recipes.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "engine/recipe.h"

#include <cstdio>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

// A recipe is a line or a small JSON object: a larger file is none.
constexpr std::size_t kMostRecipe = 1 << 20;

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

} // namespace

std::string TrySuffix(const Chain& chain) {
    std::string suffix = "-";
    suffix.append(std::to_string(chain.seed)).append("-").append(std::to_string(chain.draw));
    return suffix;
}

void CRecipes::CopyRecipe() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index || !m_context.run.Tries()[*index].complete)
        return;
    const Original* original = m_context.run.ReadOriginal();
    if (!original)
        return m_context.Message(messages::kNoOriginalCrc);
    Chain chain = m_context.run.Tries()[*index].chain;
    chain.crc32 = original->crc32;
    const fs::path& rom = m_context.run.Backup().romPath;
    fs::path output = rom.parent_path() / rom.stem();
    output += TrySuffix(chain);
    output += rom.extension();
    m_context.view->SetClipboardText(RecipeText(chain, PathText(rom), PathText(output)));
    m_context.Status(messages::kRecipeCopied);
}

void CRecipes::OpenRecipe() {
    const fs::path folder = m_context.run.Backup().romPath.parent_path();
    const std::optional<fs::path> name = m_context.view->AskForOpenName(
        "Open recipe", folder,
        {{"Recipes (*.glitchwerk.json)", "*.glitchwerk.json"}, {"All Files (*.*)", "*.*"}});
    if (!name)
        return;
    FileHandle file = OpenFile(*name, OpenHow::Reading);
    FileFacts facts;
    std::string text;
    bool read = file && ReadFacts(file.get(), facts) && facts.regular &&
                facts.length <= static_cast<std::int64_t>(kMostRecipe);
    if (read) {
        text.resize(static_cast<std::size_t>(facts.length));
        std::size_t got = 0;
        read = ReadAt(file.get(), 0, text.data(), text.size(), got);
        text.resize(got);
    }
    if (!read) {
        return m_context.Message(messages::RecipeNotRead(
            PathText(*name) + ": " + (file && facts.regular ? LastFailure() : "no plain file")));
    }
    Apply(text);
}

void CRecipes::PasteRecipe() {
    const std::optional<std::string> text = m_context.view->ClipboardText();
    if (!text || text->find_first_not_of(" \t\r\n") == std::string::npos)
        return m_context.Message(messages::kNoRecipe);
    Apply(*text);
}

void CRecipes::Apply(const std::string& text) {
    std::string why;
    std::optional<CorruptCommand> command = ParseRecipe(text, why);
    if (!command)
        return m_context.Message(messages::RecipeNotRead(why));
    if (!command->recipe.empty())
        return m_context.Message(messages::RecipeNotRead("it names a recipe file of its own"));
    if (!command->expectCrc)
        return m_context.Message(messages::kRecipeUnchecked);
    const Original* original = m_context.run.ReadOriginal();
    if (!original)
        return m_context.Message(messages::kNoOriginalCrc);
    Chain& chain = command->chain;
    if (chain.crc32 != original->crc32 && chain.crc32 != original->crc32Bare)
        return m_context.Message(
            messages::RecipeForAnother(Hex8(chain.crc32), Hex8(original->crc32)));
    if (UsesStream(chain) && !command->seedGiven)
        return m_context.Message(messages::RecipeNotRead("it draws from no --seed"));
    // Ranges given by a part's name: the original's part.
    for (std::size_t i = 0; i < chain.steps.size(); ++i) {
        if (i >= command->parts.size() || command->parts[i].empty())
            continue;
        const FilePart* part = FindPart(original->parts, command->parts[i]);
        if (!part)
            return m_context.Message(
                messages::RecipeNotRead("this file has no part " + command->parts[i]));
        chain.steps[i].startOffset = static_cast<std::uint32_t>(part->start);
        chain.steps[i].endOffset = static_cast<std::uint32_t>(part->end);
    }
    for (const std::string& kept : chain.keep) {
        if (!FindPart(original->parts, kept))
            return m_context.Message(messages::RecipeNotRead("this file has no part " + kept));
    }
    chain.crc32 = original->crc32;
    m_history.Apply(chain, std::nullopt);
}

} // namespace glitchwerk
