#pragma once

#include "app/HelpWindow.h"
#include "look/ZelvorLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace zelvor
{
class ZelvorWindow;

// The main window's content: paints the background picture, holds the updater panel, which
// fills it, and is the window's command target. Its menu model is never attached to a menu
// bar, and its help window is never shown.
class ContentComp : public juce::Component, public juce::MenuBarModel, public juce::ApplicationCommandTarget
{
public:
    explicit ContentComp (ZelvorWindow& owner);
    ~ContentComp() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int menuIndex, const juce::String& menuName) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

    juce::ApplicationCommandTarget* getNextCommandTarget() override;
    void getAllCommands (juce::Array<juce::CommandID>& commands) override;
    void getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    bool perform (const InvocationInfo& info) override;

    static constexpr juce::CommandID firmwareUpdateCommand = 0x2002;
    static constexpr int backgroundWidth = 1356;
    static constexpr int backgroundHeight = 836;

    ZelvorWindow& ownerWindow;
    std::unique_ptr<HelpWindow> helpWindow;
    ZelvorLookAndFeel zelvorLookAndFeel; // the default for every window while the content lives
    juce::LookAndFeel_V2 menuLookAndFeel;
    juce::Component* currentPanel = nullptr; // owned through the child list
    juce::TooltipWindow tooltipWindow{nullptr};
    juce::Image backgroundImage;
};
} // namespace zelvor
