#include "app/ContentComp.h"

#include "app/ZelvorWindow.h"
#include "update/FirmwareUpdater.h"

#include <BinaryData.h>

namespace zelvor
{
ContentComp::ContentComp (ZelvorWindow& owner) : ownerWindow (owner)
{
    // The panel is built from the event loop, once the window is on screen: its constructor
    // may sit in modal boxes for as long as the unit is missing.
    invokeDirectly (firmwareUpdateCommand, true);
    juce::LookAndFeel::setDefaultLookAndFeel (&zelvorLookAndFeel);

    helpWindow = std::make_unique<HelpWindow>();
    helpWindow->centreAroundComponent (nullptr, 400, 300);

    backgroundImage =
        juce::ImageFileFormat::loadFrom (BinaryData::background_png, (size_t) BinaryData::background_pngSize);
}

ContentComp::~ContentComp()
{
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    helpWindow = nullptr;
    backgroundImage = {};
    deleteAllChildren();
    currentPanel = nullptr;
}

void ContentComp::paint (juce::Graphics& g)
{
    // Drawn once from the origin: a larger (maximised) window shows the window colour beyond it.
    g.setFillType (juce::FillType (backgroundImage, juce::AffineTransform()));
    g.fillRect (0, 0, backgroundWidth, backgroundHeight);
}

void ContentComp::resized()
{
    if (currentPanel != nullptr)
        currentPanel->setBounds (getLocalBounds());
}

juce::StringArray ContentComp::getMenuBarNames()
{
    return {"Functions", "Help"};
}

juce::PopupMenu ContentComp::getMenuForIndex (int menuIndex, const juce::String&)
{
    juce::PopupMenu menu;
    menu.setLookAndFeel (&menuLookAndFeel);
    if (menuIndex == 0)
    {
        auto* commands = ownerWindow.commandManager.get();
        menu.addCommandItem (commands, firmwareUpdateCommand);
        menu.addSeparator();
        menu.addCommandItem (commands, juce::StandardApplicationCommandIDs::quit);
    }
    return menu;
}

void ContentComp::menuItemSelected (int, int)
{
}

juce::ApplicationCommandTarget* ContentComp::getNextCommandTarget()
{
    return findFirstTargetParentComponent();
}

void ContentComp::getAllCommands (juce::Array<juce::CommandID>& commands)
{
    commands.add (firmwareUpdateCommand);
}

void ContentComp::getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result)
{
    if (commandID != firmwareUpdateCommand)
        return;

    result.setInfo ("Firmware Update", juce::String(), " ", 0);
    result.setActive (true);
}

bool ContentComp::perform (const InvocationInfo& info)
{
    if (info.commandID != firmwareUpdateCommand)
        return false;

    // The old panel, and with it the link and the unit's ports, goes before the new one opens
    // them again.
    delete currentPanel;
    currentPanel = nullptr;

    auto* panel = new FirmwareUpdater();
    currentPanel = panel;
    addAndMakeVisible (panel);
    resized();
    if (isShowing())
        panel->grabKeyboardFocus();
    return true;
}
} // namespace zelvor
