#include "app/ZelvorWindow.h"

#include "app/ContentComp.h"
#include "update/FirmwareUpdater.h"
#include "update/Prompts.h"
#include "update/Texts.h"

#include <BinaryData.h>
#include <BuiltInVersions.h>

namespace zelvor
{
juce::String ZelvorWindow::windowTitle()
{
    return BuiltInVersions::windowTitle;
}

ZelvorWindow::ZelvorWindow()
    : juce::DocumentWindow (windowTitle(), juce::Colour (windowColour), juce::DocumentWindow::allButtons, true)
{
    commandManager = std::make_unique<juce::ApplicationCommandManager>();
    setResizable (false, false);

    auto* content = new ContentComp (*this);
    commandManager->registerAllCommandsForTarget (content);
    commandManager->registerAllCommandsForTarget (juce::JUCEApplication::getInstance());
    addKeyListener (commandManager->getKeyMappings());
    setContentOwned (content, false);
    content->setApplicationCommandManagerToWatch (commandManager.get());

    setVisible (true);

    iconImage = juce::ImageFileFormat::loadFrom (BinaryData::windowIcon_jpg, (size_t) BinaryData::windowIcon_jpgSize);
    setIcon (iconImage);
    setTitleBarTextCentred (false);
    setUsingNativeTitleBar (true);
}

ZelvorWindow::~ZelvorWindow()
{
    // The content goes before the command manager that its menu model watches.
    setMenuBar (nullptr);
    clearContentComponent();
    iconImage = {};
    commandManager = nullptr;
}

void ZelvorWindow::focusGained (FocusChangeType)
{
    // Focus that lands on the window itself goes on to the updater panel.
    auto* content = dynamic_cast<ContentComp*> (getContentComponent());
    if (content != nullptr && content->currentPanel != nullptr && content->currentPanel->isShowing())
        content->currentPanel->grabKeyboardFocus();
}

void ZelvorWindow::closeButtonPressed()
{
    // Quitting cancels a transfer and leaves the unit half written: the user decides that, not
    // a stray click on the window's frame.
    auto* content = dynamic_cast<ContentComp*> (getContentComponent());
    auto* panel = content != nullptr ? dynamic_cast<FirmwareUpdater*> (content->currentPanel) : nullptr;
    if (panel != nullptr && panel->runMode.load() != FirmwareUpdater::runNone)
    {
        if (askingToQuit)
            return;
        askingToQuit = true;
        const bool quit = Prompts::current().askOkCancel (
            Prompts::Icon::warning, {}, Texts::quitMidUpdate, Texts::quitButton, Texts::keepUpdatingButton);
        askingToQuit = false;
        if (! quit)
            return;
    }
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
} // namespace zelvor
