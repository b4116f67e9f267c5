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
    juce::JUCEApplicationBase::quit();
}

bool JucePrompts::quitRequested()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}
} // namespace zelvor
