#include "sim/UnitFault.h"

namespace zelvor
{
namespace
{
    const UnitFault::Scenario* find (const juce::String& name)
    {
        for (const auto& scenario : UnitFault::scenarios)
            if (name == scenario.name)
                return &scenario;
        return nullptr;
    }
} // namespace

std::optional<UnitFault> UnitFault::parse (const juce::String& nameAndCount)
{
    const auto* scenario = find (nameAndCount.upToFirstOccurrenceOf (":", false, false).trim());
    if (scenario == nullptr)
        return std::nullopt;

    UnitFault fault{scenario->kind, scenario->defaultCount};
    if (nameAndCount.containsChar (':'))
    {
        const auto countText = nameAndCount.fromFirstOccurrenceOf (":", false, false).trim();
        if (scenario->defaultCount == 0 || countText.isEmpty() || ! countText.containsOnly ("0123456789") ||
            countText.length() > 9)
            return std::nullopt;
        fault.count = countText.getIntValue();
        if (fault.count < 1)
            return std::nullopt;
    }
    return fault;
}

juce::StringArray UnitFault::names()
{
    juce::StringArray names;
    for (const auto& scenario : UnitFault::scenarios)
        names.add (scenario.name);
    return names;
}

juce::String UnitFault::describe (const juce::String& name)
{
    if (const auto* scenario = find (name.upToFirstOccurrenceOf (":", false, false).trim()))
        return scenario->description;
    return {};
}
} // namespace zelvor
