// SPDX-License-Identifier: MIT
#include "dialog/rule_choice.h"

#include "dialog/glitchwerk_dlg.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace glitchwerk {
namespace {

// How a rule's value is typed, and its bounds.
enum class Value { None, Hex, Decimal, Signed };

struct PanelRule {
    const char* name;
    ReplaceMode replace; // for a rule of each byte
    WholeRule whole;     // for a rule of the range as a whole
    Value value;
    std::int64_t low, high;
};

constexpr auto kAsTheDialog = ReplaceMode::ReplaceSpecificByte; // not used: the form's own
constexpr std::int64_t kOffsets = 0xFFFFFFFF;

constexpr PanelRule kRules[] = {
    {"As the dialog", kAsTheDialog, WholeRule::None, Value::None, 0, 0},
    {"XOR with V (hex):", ReplaceMode::ReplaceXor, WholeRule::None, Value::Hex, 0, 0xFF},
    {"Flip a bit, by the seed", ReplaceMode::ReplaceFlipBit, WholeRule::None, Value::None, 0, 0},
    {"Rotate left by N (1-7):", ReplaceMode::ReplaceRotateLeft, WholeRule::None, Value::Decimal, 1,
     7},
    {"Tilt by up to N (hex):", ReplaceMode::ReplaceTilt, WholeRule::None, Value::Hex, 1, 0xFF},
    {"Shift by N bytes:", kAsTheDialog, WholeRule::Shift, Value::Signed, -kOffsets, kOffsets},
    {"Reverse blocks of B:", kAsTheDialog, WholeRule::Reverse, Value::Decimal, 1, kMostBlockBytes},
    {"Swap blocks of B:", kAsTheDialog, WholeRule::Swap, Value::Decimal, 1, kMostBlockBytes},
    {"Shuffle blocks of B:", kAsTheDialog, WholeRule::Shuffle, Value::Decimal, 1, kMostBlockBytes},
    {"Copy from OFFSET (hex):", kAsTheDialog, WholeRule::CopyFrom, Value::Hex, 0, kOffsets},
    {"Smooth over B bytes:", kAsTheDialog, WholeRule::Smooth, Value::Decimal, 1, kMostBlockBytes},
};

std::optional<std::int64_t> ValueOf(const std::string& text, const PanelRule& rule) {
    std::int64_t value = 0;
    std::string_view digits = text;
    if (rule.value == Value::Hex && digits.size() > 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    if (rule.value == Value::Signed && digits.starts_with('+'))
        digits.remove_prefix(1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                              rule.value == Value::Hex ? 16 : 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < rule.low || value > rule.high)
        return std::nullopt;
    return value;
}

std::string Bounds(const PanelRule& rule) {
    switch (rule.value) {
    case Value::Hex:
        return "a hexadecimal number from " + HexText(static_cast<std::uint32_t>(rule.low)) +
               " to " + HexText(static_cast<std::uint32_t>(rule.high));
    case Value::Decimal:
        return "a decimal number from " + std::to_string(rule.low) + " to " +
               std::to_string(rule.high);
    case Value::Signed:
        return "a decimal number, negative for bytes before";
    case Value::None:
        break;
    }
    return {};
}

// The rule's name without its colon and value: "Shift by N bytes".
std::string Named(const PanelRule& rule) {
    std::string name = rule.name;
    if (name.ends_with(':'))
        name.pop_back();
    return name;
}

} // namespace

void CRuleChoice::Show() const {
    std::vector<std::string> names;
    for (const PanelRule& rule : kRules)
        names.emplace_back(rule.name);
    m_context.view->ShowChoices(IDC_RULE, names, 0);
    OnChoose();
}

void CRuleChoice::OnChoose() const {
    const int chosen = m_context.view->SelectedChoice(IDC_RULE);
    const bool value = chosen > 0 && chosen < static_cast<int>(std::size(kRules)) &&
                       kRules[chosen].value != Value::None;
    m_context.view->SetEnabled(IDC_RULE_VALUE, value);
}

std::optional<CorruptionStep> CRuleChoice::Apply(CorruptionStep step) const {
    const int chosen = m_context.view->SelectedChoice(IDC_RULE);
    if (chosen <= 0 || chosen >= static_cast<int>(std::size(kRules)))
        return step;
    const PanelRule& rule = kRules[chosen];
    std::int64_t value = 0;
    if (rule.value != Value::None) {
        const std::optional<std::int64_t> typed =
            ValueOf(m_context.view->FieldText(IDC_RULE_VALUE), rule);
        if (!typed) {
            m_context.Message(Named(rule) + ": the value is " + Bounds(rule) + ".");
            return std::nullopt;
        }
        value = *typed;
    }
    if (rule.whole == WholeRule::None) {
        step.rule.replaceMode = rule.replace;
        step.rule.replaceValue = static_cast<std::uint8_t>(value);
        return step;
    }
    // Over the range as a whole: every byte of it, none searched for or left out.
    if (step.rule.searchMode != SearchMode::SearchAllBytes ||
        !(step.spread.kind == SpreadKind::Every ||
          (step.spread.kind == SpreadKind::EveryNth && step.spread.n == 1))) {
        m_context.Message(Named(rule) +
                          " works on the range as a whole: choose All Bytes and Every byte found.");
        return std::nullopt;
    }
    step.rule = {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0};
    step.spread = {};
    step.whole = {rule.whole, value};
    return step;
}

void CRuleChoice::Choose(const CorruptionStep& step) const {
    for (std::size_t i = 1; i < std::size(kRules); ++i) {
        const PanelRule& rule = kRules[i];
        const bool same =
            step.whole.kind != WholeRule::None
                ? rule.whole == step.whole.kind
                : rule.whole == WholeRule::None && rule.replace == step.rule.replaceMode;
        if (!same)
            continue;
        std::vector<std::string> names;
        for (const PanelRule& each : kRules)
            names.emplace_back(each.name);
        m_context.view->ShowChoices(IDC_RULE, names, static_cast<int>(i));
        const std::int64_t value =
            step.whole.kind != WholeRule::None ? step.whole.value : step.rule.replaceValue;
        m_context.view->SetFieldText(
            IDC_RULE_VALUE, rule.value == Value::None  ? ""
                            : rule.value == Value::Hex ? HexText(static_cast<std::uint32_t>(value))
                                                       : std::to_string(value));
        return OnChoose();
    }
    Show(); // the dialog's own rule
}

} // namespace glitchwerk
