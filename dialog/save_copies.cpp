// SPDX-License-Identifier: MIT
#include "dialog/save_copies.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "dialog/recipes.h"
#include "engine/publish.h"
#include "engine/recipe.h"

#include <cstdio>
#include <vector>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

constexpr char kRecipeExtension[] = ".glitchwerk.json";

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// The name with `extension` in place of the file's.
fs::path Beside(const fs::path& file, const std::string& extension) {
    fs::path name = file.parent_path() / file.stem();
    name += fs::path(std::u8string(extension.begin(), extension.end()));
    return name;
}

std::vector<FileType> TypesOf(const fs::path& file) {
    std::vector<FileType> types;
    const std::u8string extension = file.extension().u8string();
    if (!extension.empty()) {
        const std::string text(extension.begin(), extension.end());
        types.push_back({"Files like " + text.substr(1) + " (*" + text + ")", "*" + text});
    }
    types.push_back({"All Files (*.*)", "*.*"});
    return types;
}

// The same file on disk, or the same name once made absolute.
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error) ||
           fs::equivalent(a, b, error);
}

} // namespace

fs::path FreeName(const fs::path& file, const std::string& suffix, const std::string& also) {
    const fs::path stem = file.parent_path() / file.stem();
    for (int n = 1;; ++n) {
        fs::path name = stem;
        name += fs::path(std::u8string(suffix.begin(), suffix.end()));
        if (n > 1)
            name += std::string(1, '-').append(std::to_string(n));
        fs::path withExtension = name;
        withExtension += file.extension();
        if (!Exists(withExtension) && (also.empty() || !Exists(Beside(withExtension, also))))
            return withExtension;
    }
}

const char* CSaveCopies::Refusal(const fs::path& target) const {
    const BackupStore& backup = m_context.run.Backup();
    if (SameFile(target, backup.romPath) || SameFile(target, backup.dataFolder / kDataFileName))
        return messages::kCopyNotOverOwn;
    if (IsRunFileName(target) || HeldByAnotherRun(target))
        return messages::kCopyNotOverRunFile;
    return nullptr;
}

void CSaveCopies::SaveCopyAs() {
    const BackupStore& backup = m_context.run.Backup();
    const std::optional<fs::path> target = m_context.view->AskForSaveName(
        "Save copy as", FreeName(backup.romPath, "-glitch"), TypesOf(backup.romPath));
    if (!target)
        return;
    if (const char* refusal = Refusal(*target))
        return m_context.Message(refusal);
    std::optional<FileId> replaces;
    if (Exists(*target)) {
        replaces = PlainFileAt(*target);
        if (!replaces) {
            return m_context.Message(
                messages::CopyNotSaved(PathText(*target), "it is no plain file"));
        }
        if (!m_context.Ask(messages::ReplaceQuestion(PathText(target->filename()))))
            return;
    }
    PublishResult result = PublishResult::Failed;
    m_context.Runner(messages::kSaving)([&](const Progress& progress) {
        result = PublishFile({*target, backup.romPermissions, replaces}, [&](std::FILE* out) {
            return m_context.run.WriteFileNow(out, progress);
        });
    });
    if (IsPublished(result))
        return m_context.Tell(messages::kCopySaved);
    m_context.Message(messages::CopyNotSaved(
        PathText(*target),
        result == PublishResult::Taken ? "another file took the name meanwhile" : LastFailure()));
}

void CSaveCopies::SaveTry() {
    const std::optional<std::size_t> index = m_context.SelectedTry();
    if (!index || !m_context.run.Tries()[*index].complete)
        return;
    const Original* original = m_context.run.ReadOriginal();
    if (!original)
        return m_context.Message(messages::kNoOriginalCrc);
    Chain chain = m_context.run.Tries()[*index].chain;
    chain.crc32 = original->crc32;
    const BackupStore& backup = m_context.run.Backup();
    const std::string suffix = TrySuffix(chain);
    const std::optional<fs::path> chosen = m_context.view->AskForSaveName(
        "Save try", FreeName(backup.romPath, suffix, kRecipeExtension), TypesOf(backup.romPath));
    if (!chosen)
        return;
    // Nothing is replaced: a name that is taken gets a number.
    const fs::path target = Exists(*chosen) || Exists(Beside(*chosen, kRecipeExtension))
                                ? FreeName(*chosen, "", kRecipeExtension)
                                : *chosen;
    const fs::path recipe = Beside(target, kRecipeExtension);
    for (const fs::path& each : {target, recipe}) {
        if (const char* refusal = Refusal(each))
            return m_context.Message(refusal);
    }
    RecipeOutcome outcome{{}, original->crc32Bare, {}, {}};
    PublishResult result = PublishResult::Failed;
    m_context.Runner(messages::kSaving)([&](const Progress& progress) {
        result = PublishFile({target, backup.romPermissions, std::nullopt}, [&](std::FILE* out) {
            return m_context.run.WriteTry(chain, out, progress, outcome.results);
        });
    });
    if (IsPublished(result)) {
        const std::string json =
            RecipeJson(chain, PathText(backup.romPath), PathText(target), outcome) + '\n';
        result = PublishFile({recipe, 0666, std::nullopt}, [&](std::FILE* out) {
            return std::fwrite(json.data(), 1, json.size(), out) == json.size();
        });
        if (IsPublished(result))
            return m_context.Status(messages::TrySaved(PathText(target.filename())));
        return m_context.Message(messages::CopyNotSaved(PathText(recipe), LastFailure()));
    }
    m_context.Message(messages::CopyNotSaved(
        PathText(target),
        result == PublishResult::Taken ? "another file took the name meanwhile" : LastFailure()));
}

} // namespace glitchwerk
