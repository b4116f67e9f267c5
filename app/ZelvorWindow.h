#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace zelvor
{
class ZelvorWindow : public juce::DocumentWindow
{
public:
    ZelvorWindow();
    ~ZelvorWindow() override;

    void closeButtonPressed() override;
    // Hands the keyboard focus on to the updater panel, so that its view keys work without a
    // click into it first.
    void focusGained (FocusChangeType cause) override;

    static juce::String windowTitle();
    // The content's size: the updater panel fills it.
    static constexpr int width = 400;
    static constexpr int height = 200;
    static constexpr juce::uint32 windowColour = 0xFF918F8F;

    std::unique_ptr<juce::ApplicationCommandManager> commandManager;
    juce::Image iconImage;

private:
    bool askingToQuit = false;
};
} // namespace zelvor
