#pragma once

#include "link/BoundedOutput.h"
#include "link/MidiPortService.h"

#include <functional>
#include <memory>
#include <vector>

namespace zelvor
{
// The unit's ports are the ones whose names contain this word, in any letter case.
constexpr const char* unitPortWord = "Zelvor";

// Index of the first name that contains the port word, or -1.
int findUnitPort (const juce::StringArray& portNames);

// An input and the output of the same device, both named with the port word: what may be a unit.
struct UnitPorts
{
    MidiPortInfo input, output;

    // The same ports, listed under the same identifiers.
    bool samePortsAs (const UnitPorts& other) const;
    // The same ports as one of these.
    bool isAmong (const std::vector<UnitPorts>& others) const;
};

// Pairs each input named with the port word with an output of the same device: by the device
// where the platform tells it, otherwise by the very same name (Windows numbers a second device
// of one name "2- NAME", so that pairs with its own output). Ports that find no partner are
// no candidates. In the inputs' order.
std::vector<UnitPorts> pairUnitPorts (const juce::Array<MidiPortInfo>& inputs,
                                      const juce::Array<MidiPortInfo>& outputs);
std::vector<UnitPorts> listUnitCandidates();

// Who the unit says it is: running its main firmware, in its loader (an update cut short), or
// no answer.
enum class UnitMode
{
    running,
    loader,
    unknown
};

// What the search for the unit found.
struct UnitSearch
{
    enum Result
    {
        found,    // exactly one unit: `unit`
        notFound, // no candidate, or only one that was asked and did not answer
        busy,     // a candidate whose ports cannot be opened (another program holds them)
        several   // more than one candidate answers, or several and none does
    };
    Result result = notFound;
    UnitPorts unit;
    // Candidates that were asked and never answered: not units (another program's port whose
    // name happens to contain the word). Never written to.
    std::vector<UnitPorts> silent;
};

// Finds the one unit among the candidates. A single candidate is taken as it is (nothing is sent
// to it, as a unit that misses one identity request must still be updated), unless it is one of
// `knownSilent`: a unit slow to come back must not be replaced by the look-alike that stayed.
// Otherwise each is asked who it is (the identity request, answered within the handshake's
// limit) and only those that answer count. `cancelled` ends the wait early (the result is then
// notFound).
UnitSearch searchForUnit (const std::vector<UnitPorts>& knownSilent = {},
                          const std::function<bool()>& cancelled = nullptr);

// Opens (and starts) the input and opens the output of the given ports, the output bounded.
// Both slots are set to null first; returns true only when both then hold open ports. A port
// that opened stays open when the other did not. Callers close what the slots held before.
bool openUnitPorts (const UnitPorts& unit,
                    std::unique_ptr<MidiInputPort>& input,
                    std::unique_ptr<BoundedOutput>& output,
                    juce::MidiInputCallback* callback);

// Stops and deletes the input, then deletes the output; empty slots are left alone.
void closeUnitPorts (std::unique_ptr<MidiInputPort>& input, std::unique_ptr<BoundedOutput>& output);
} // namespace zelvor
