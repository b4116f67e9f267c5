#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace zelvor
{
// A help window that is built hidden with the main window's content and never shown; closing
// it only hides it.
class HelpWindow : public juce::DialogWindow
{
public:
    HelpWindow();
    ~HelpWindow() override;

    void closeButtonPressed() override;

    static constexpr juce::uint32 backgroundColour = 0xFF918F8F;

    juce::TextEditor* helpText = nullptr; // owned through the content slot
};
} // namespace zelvor
