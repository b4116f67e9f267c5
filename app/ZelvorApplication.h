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

    static constexpr const char* programVersion = "1.3.6";

protected:
    std::unique_ptr<ZelvorWindow> mainWindow;
};
} // namespace zelvor
