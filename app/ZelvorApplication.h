#pragma once

#include "app/ZelvorWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace zelvor
{
class ZelvorApplication : public juce::JUCEApplication
{
public:
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;

    // False, after telling so on stderr and asking for exit code 1, where no display can be
    // opened: every window of the program needs one.
    bool checkDisplay();

    // SIGINT, SIGTERM and SIGHUP quit as the window's quit does (a running update is cancelled
    // and the program ends with 128 + the signal's number); a second one ends it at once.
    void listenForQuitSignals();

protected:
    std::unique_ptr<ZelvorWindow> mainWindow;
};
} // namespace zelvor
