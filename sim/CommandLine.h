#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

// The options of the simulator's programs (the demo, the headless driver, the USB unit), read
// the same way in each: `--name value` or `--name=value`, every value checked, an output never
// a directory, a device, an input or another output. A usage error exits with 2.
namespace zelvor::CommandLine
{
constexpr int usageError = 2;

class Options
{
public:
    explicit Options (const juce::String& program);
    ~Options();

    void flag (const juce::String& name, bool& target, const juce::String& help);
    // A value that is not empty.
    void text (const juce::String& name, juce::String& target, const juce::String& help);
    void
    choice (const juce::String& name, juce::String& target, const juce::StringArray& values, const juce::String& help);
    // The pace against real time, within what the pacing takes.
    void speed (double& target);
    // --fault NAME[:N] for the virtual unit, and --list-faults to list them.
    void fault (juce::String& target);
    // Files, relative to the current folder.
    void input (const juce::String& name, juce::File& target, const juce::String& help);
    void output (const juce::String& name, juce::File& target, const juce::String& help);
    // The virtual unit's outputs, --log, --flash and --dsp-received, as every program names them;
    // `when` tells when the last two are written.
    void unitOutputs (juce::File& log, juce::File& flash, juce::File& dspReceived, const juce::String& when);
    // --second-unit KIND, and the second unit's --second-flash and --second-dsp-received.
    void secondUnit (juce::String& kind, juce::File& flash, juce::File& dspReceived, const juce::String& when);

    // Reads the arguments (without the program's name). Empty to go on; otherwise the exit
    // status, the help or the fault list printed on stdout (0) or the error on stderr (2).
    std::optional<int> parse (const juce::StringArray& arguments);
    // Options that do not go together, found by the program after parse: told as parse's errors.
    int refuse (const juce::String& message) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

juce::StringArray arguments (int argc, char** argv);

// True when both name the same file, through links (by inode where there is one).
bool sameFile (const juce::File& a, const juce::File& b);
} // namespace zelvor::CommandLine
