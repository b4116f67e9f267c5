#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace zelvor
{
class ZelvorWindow;

// The main window's content: paints the background picture and holds the updater panel,
// which fills it.
class ContentComp : public juce::Component,
                    public juce::ApplicationCommandTarget
{
public:
    explicit ContentComp (ZelvorWindow& owner);
    ~ContentComp() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The firmware-update command that builds the updater panel is added here with the panel.
    juce::ApplicationCommandTarget* getNextCommandTarget() override;
    void getAllCommands (juce::Array<juce::CommandID>& commands) override;
    void getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    bool perform (const InvocationInfo& info) override;

    static constexpr int backgroundWidth = 1356;
    static constexpr int backgroundHeight = 836;

    ZelvorWindow& ownerWindow;
    juce::Component* currentPanel = nullptr; // owned through the child list
    juce::TooltipWindow tooltipWindow{nullptr};
    juce::Image backgroundImage;
};
} // namespace zelvor
