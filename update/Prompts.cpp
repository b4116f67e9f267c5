#include "update/Prompts.h"

#include <atomic>

namespace zelvor
{
namespace
{
std::atomic<Prompts*> installedPrompts{nullptr};

juce::MessageBoxIconType iconType (Prompts::Icon icon)
{
    return icon == Prompts::Icon::warning ? juce::MessageBoxIconType::WarningIcon
                                          : juce::MessageBoxIconType::InfoIcon;
}
} // namespace

Prompts& Prompts::current()
{
    static JucePrompts jucePrompts;
    auto* installed = installedPrompts.load();
    return installed != nullptr ? *installed : jucePrompts;
}

void Prompts::install (Prompts* prompts)
{
    installedPrompts.store (prompts);
}

void JucePrompts::showMessage (Icon icon, const juce::String& title, const juce::String& message)
{
    juce::AlertWindow::showMessageBox (iconType (icon), title, message);
}

bool JucePrompts::askOkCancel (Icon icon,
                               const juce::String& title,
                               const juce::String& message,
                               const juce::String& firstButton,
                               const juce::String& secondButton)
{
    return juce::AlertWindow::showOkCancelBox (iconType (icon), title, message, firstButton, secondButton);
}

juce::File JucePrompts::chooseFileToOpen (const juce::String& title,
                                          const juce::File& startDirectory,
                                          const juce::String& patterns)
{
    juce::FileChooser chooser (title, startDirectory, patterns);
    if (chooser.browseForFileToOpen())
        return chooser.getResult();
    return {};
}

bool JucePrompts::runWithProgressWindow (juce::ThreadWithProgressWindow& window)
{
    return window.runThread (juce::Thread::Priority::normal);
}

void JucePrompts::requestQuit()
{
    // JUCE refuses every message posted after its quit message, and on Linux its event loop can
    // then sleep on with the quit already taken, until some window event wakes it. Taking the
    // windows down makes that event at once; the program is ending anyway.
    quitAsked = true;
    juce::MessageManager::callAsync ([]
                                     {
                                         juce::JUCEApplicationBase::quit();
                                         for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
                                             juce::TopLevelWindow::getTopLevelWindow (i)->setVisible (false); });
}

bool JucePrompts::quitRequested()
{
    return quitAsked || juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}
} // namespace zelvor
