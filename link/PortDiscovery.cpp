#include "link/PortDiscovery.h"

#include "link/Pacing.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <algorithm>
#include <atomic>

namespace zelvor
{
int findUnitPort (const juce::StringArray& portNames)
{
    for (int i = 0; i < portNames.size(); ++i)
        if (portNames[i].containsIgnoreCase (unitPortWord))
            return i;

    return -1;
}

bool UnitPorts::samePortsAs (const UnitPorts& other) const
{
    return input.identifier == other.input.identifier && output.identifier == other.output.identifier;
}

bool UnitPorts::isAmong (const std::vector<UnitPorts>& others) const
{
    return std::any_of (others.begin(), others.end(), [this] (const UnitPorts& other) { return samePortsAs (other); });
}

std::vector<UnitPorts> pairUnitPorts (const juce::Array<MidiPortInfo>& inputs, const juce::Array<MidiPortInfo>& outputs)
{
    auto sameDevice = [] (const MidiPortInfo& a, const MidiPortInfo& b)
    { return a.device.isNotEmpty() && b.device.isNotEmpty() ? a.device == b.device : a.name == b.name; };

    std::vector<UnitPorts> pairs;
    std::vector<bool> outputTaken ((size_t) outputs.size(), false);
    for (const auto& input : inputs)
    {
        if (! input.name.containsIgnoreCase (unitPortWord))
            continue;

        // Of a device with several such ports (or names told twice), the n-th input goes with
        // the n-th output.
        for (int i = 0; i < outputs.size(); ++i)
        {
            if (! outputTaken[(size_t) i] && outputs[i].name.containsIgnoreCase (unitPortWord) &&
                sameDevice (input, outputs[i]))
            {
                outputTaken[(size_t) i] = true;
                pairs.push_back ({input, outputs[i]});
                break;
            }
        }
    }
    return pairs;
}

std::vector<UnitPorts> listUnitCandidates()
{
    auto& service = MidiPortService::current();
    return pairUnitPorts (service.listInputs(), service.listOutputs());
}

namespace
{
    // One candidate being asked who it is: its answer arrives on the service's input thread.
    struct IdentityProbe : juce::MidiInputCallback
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
        {
            const auto* bytes = message.getRawData();
            const auto size = message.getRawDataSize();
            if (Sysex::matchesMessage (bytes, size, Sysex::identityReplyRunning))
                answer.store ((int) UnitMode::running);
            else if (Sysex::matchesMessage (bytes, size, Sysex::identityReplyLoader))
                answer.store ((int) UnitMode::loader);
        }

        UnitPorts ports;
        std::unique_ptr<MidiInputPort> input;
        std::unique_ptr<BoundedOutput> output;
        std::atomic<int> answer{(int) UnitMode::unknown};
    };
} // namespace

UnitSearch searchForUnit (const std::vector<UnitPorts>& knownSilent, const std::function<bool()>& cancelled)
{
    auto isCancelled = [&cancelled] { return cancelled != nullptr && cancelled(); };

    UnitSearch search;
    const auto candidates = listUnitCandidates();
    if (candidates.empty())
        return search;

    if (candidates.size() == 1 && ! candidates.front().isAmong (knownSilent))
    {
        search.result = UnitSearch::found;
        search.unit = candidates.front();
        return search;
    }

    // Every candidate is asked at once, so a silent one costs one wait, not one each.
    std::vector<std::unique_ptr<IdentityProbe>> probes;
    bool allOpened = true;
    for (const auto& candidate : candidates)
    {
        auto probe = std::make_unique<IdentityProbe>();
        probe->ports = candidate;
        allOpened = openUnitPorts (candidate, probe->input, probe->output, probe.get()) && allOpened;
        probes.push_back (std::move (probe));
    }

    auto answered = [&probes]
    {
        int count = 0;
        for (const auto& probe : probes)
            count += probe->answer.load() != (int) UnitMode::unknown ? 1 : 0;
        return count;
    };

    if (allOpened)
    {
        // A candidate whose send never completes stays silent, as one that does not answer.
        for (auto& probe : probes)
            probe->output->sendWithin (
                juce::MidiMessage (Sysex::identityRequest.bytes, Sysex::identityRequest.size, 0.0),
                Protocol::sendLimitMs);

        for (int sleeps = 0; sleeps < Protocol::handshakeSleeps && answered() < (int) probes.size() && ! isCancelled();
             ++sleeps)
            Pacing::sleep (Protocol::handshakeStepMs);
    }

    for (auto& probe : probes)
        closeUnitPorts (probe->input, probe->output);

    // A port that cannot be opened may be the unit's, held by another program.
    if (! allOpened)
    {
        search.result = UnitSearch::busy;
        return search;
    }
    if (isCancelled())
        return search;

    if (answered() == 1)
        search.result = UnitSearch::found;
    else if (probes.size() > 1)
        search.result = UnitSearch::several;
    for (const auto& probe : probes)
    {
        if (probe->answer.load() == (int) UnitMode::unknown)
            search.silent.push_back (probe->ports);
        else if (search.result == UnitSearch::found)
            search.unit = probe->ports;
    }
    return search;
}

bool openUnitPorts (const UnitPorts& unit,
                    std::unique_ptr<MidiInputPort>& input,
                    std::unique_ptr<BoundedOutput>& output,
                    juce::MidiInputCallback* callback)
{
    auto& service = MidiPortService::current();

    input = service.openInputPort (unit.input.identifier, callback);
    if (input != nullptr)
        input->start();

    output = nullptr;
    if (auto port = service.openOutputPort (unit.output.identifier))
        output = std::make_unique<BoundedOutput> (std::move (port));

    return input != nullptr && output != nullptr;
}

void closeUnitPorts (std::unique_ptr<MidiInputPort>& input, std::unique_ptr<BoundedOutput>& output)
{
    if (input != nullptr)
    {
        // Stopped, then deleted; deleting waits for a receive callback in progress, so none
        // runs on a port that is gone.
        input->stop();
        input = nullptr;
    }

    output = nullptr;
}
} // namespace zelvor
