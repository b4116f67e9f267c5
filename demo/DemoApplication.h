#pragma once

#include "app/ZelvorApplication.h"
#include "demo/VirtualUnitWindow.h"
#include "sim/SecondUnit.h"
#include "sim/UnitOutputs.h"
#include "sim/VirtualUnit.h"
#include "update/Prompts.h"

#include <optional>

namespace zelvor
{
// The real program on a virtual unit: the same application, window, panel and link, with the
// virtual MIDI service installed in place of the system's and a "Virtual Zelvor" window beside
// the updater that stands for the hardware on the desk.
class DemoApplication : public ZelvorApplication
{
public:
    struct Options
    {
        double speed = 1.0;
        juce::String fault{"none"};
        juce::File logFile, flashFile, dspReceivedFile;
        juce::String secondUnit{"none"};
        juce::File secondFlashFile, secondDspReceivedFile;
        bool unplugged = false;
        bool portsHeld = false;
        bool systemMidi = false; // the machine's MIDI ports (a unit on USB) instead of the virtual unit
        bool layout = false;     // tell where the windows' buttons are, and quit
    };

    // Empty to go on, or the exit status (the help printed, or a usage error told).
    static std::optional<int> parseOptions (const juce::StringArray& args, Options& options);
    // Tells, for the window tests, where each button lies in its window's content:
    // "layout: NAME X Y WIDTH HEIGHT".
    static void tellLayout();

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    const juce::String getApplicationName() override;

    // JUCE's own boxes, each also told on stdout as it opens and closes, so that scripts driving
    // the demo know what the user is being asked.
    class TracingPrompts : public JucePrompts
    {
    public:
        using JucePrompts::showMessage;
        void showMessage (Icon icon,
                          const juce::String& title,
                          const juce::String& message,
                          const juce::String& details) override;
        bool askOkCancel (Icon icon,
                          const juce::String& title,
                          const juce::String& message,
                          const juce::String& firstButton,
                          const juce::String& secondButton) override;
        juce::File chooseFileToOpen (const juce::String& title,
                                     const juce::File& startDirectory,
                                     const juce::String& patterns) override;
        bool runWithProgressWindow (juce::ThreadWithProgressWindow& window) override;
        void announce (const juce::String& text) override;
        void requestQuit() override;

    protected:
        void boxAnswered (const juce::String& buttonText) override;
        void detailsCopied() override;
    };

private:
    Options options;
    TracingPrompts prompts;
    VirtualMidiService service;
    std::unique_ptr<VirtualUnit> unit;
    std::unique_ptr<VirtualUnitWindow> unitWindow;
    std::unique_ptr<SecondUnit> second;
    std::unique_ptr<UnitOutputs> outputs;
    std::unique_ptr<VirtualUnitWindow> secondWindow;
};
} // namespace zelvor
