#include "update/RunDetails.h"

#include "update/FailureReason.h"

#include <BuiltInVersions.h>

namespace zelvor
{
namespace
{
    juce::String seconds (std::uint32_t fromMs, std::uint32_t toMs)
    {
        // The millisecond counter wraps after 49 days; the signed difference does not care, and a
        // message from before the phase counts back from its start.
        return juce::String ((double) (std::int32_t) (toMs - fromMs) / 1000.0, 3) + " s";
    }

    juce::String quoted (const juce::StringArray& names)
    {
        if (names.isEmpty())
            return "none";
        juce::StringArray quotedNames;
        for (const auto& name : names)
            quotedNames.add (name.quoted());
        return quotedNames.joinIntoString (", ");
    }

    juce::String modeWords (UnitMode mode)
    {
        switch (mode)
        {
            case UnitMode::running:
                return "running its firmware";
            case UnitMode::loader:
                return "in its loader";
            case UnitMode::unknown:
                break;
        }
        return "no answer on record";
    }

    juce::String messages (const std::vector<RecentTraffic::Entry>& entries, std::uint32_t startedAt)
    {
        if (entries.empty())
            return "none";
        juce::StringArray lines;
        for (const auto& entry : entries)
            lines.add (seconds (startedAt, entry.atMs) + " " + entry.kind + ", " + juce::String (entry.length) +
                       " bytes");
        return lines.joinIntoString ("; ");
    }
} // namespace

juce::String runDetails (const FirmwareManager& link, const juce::String& whatRan)
{
    auto& service = MidiPortService::current();
    const auto failure = link.lastFailure();
    const auto startedAt = link.lastRunStartedAt();

    juce::StringArray lines;
    lines.add (BuiltInVersions::windowTitle);
    lines.add ("System: " + juce::SystemStats::getOperatingSystemName() + "; MIDI: " + service.serviceName());
    lines.add ("MIDI ports seen: " + quoted (link.portNamesSeen()));
    lines.add ("MIDI ports now: inputs " + quoted (service.getInputNames()) + "; outputs " +
               quoted (service.getOutputNames()));
    lines.add ("The Zelvor said it was: " + modeWords (link.lastKnownMode()));
    lines.add ("Run: " + whatRan);

    auto stopped = failurePhrase (failure);
    if (stopped.isEmpty())
        stopped = failure.cause == RunFailure::Cause::cancelled ? "cancelled" : "no cause seen by the link";
    stopped << " (cause " << (int) failure.cause << ", step " << (int) failure.step << ", " << failure.done << " of "
            << failure.total << ")";
    if (link.lastFailureNotedAt() != 0)
        stopped << ", " << seconds (startedAt, link.lastFailureNotedAt()) << " after the phase began";
    lines.add ("Stopped: " + stopped);

    lines.add ("Sent last: " + messages (link.recentTraffic().sent(), startedAt));
    lines.add ("Received last: " + messages (link.recentTraffic().received(), startedAt));
    return lines.joinIntoString ("\n");
}
} // namespace zelvor
