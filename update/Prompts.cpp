#include "update/Prompts.h"

#include <atomic>

#if JUCE_LINUX
 #include <unistd.h>
#endif

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
    // JUCE's runThread, except for a quit (Ctrl+C, the platform) while the window is up: JUCE's
    // own loop would then spin for ever, its timer never called again. Here the quit cancels
    // the run as the window's "Cancel" does.
    window.launchThread (juce::Thread::Priority::normal);
    auto* alert = window.getAlertWindow();
    auto* messageManager = juce::MessageManager::getInstance();

    while (alert->isCurrentlyModal (false))
    {
        if (! messageManager->runDispatchLoopUntil (5))
        {
            window.stopThread (cancelTimeOutMs);
            alert->exitModalState (0);
            alert->setVisible (false);
            wakeEventLoop();
            return false;
        }
    }

    // The window closes by itself only once the thread has ended; still running means "Cancel".
    const bool cancelled = window.isThreadRunning();
    if (cancelled)
        window.stopThread (cancelTimeOutMs);
    return ! cancelled;
}

#if JUCE_LINUX
// JUCE refuses every message posted after its quit message, and its Linux event loop can take
// the quit inside a nested dispatch and then sleep on, waiting for an event that never comes.
// A pipe of our own among the loop's descriptors wakes it once the quit has been posted.
class JucePrompts::LoopWaker
{
public:
    LoopWaker()
    {
        if (::pipe (fds) == 0)
            juce::LinuxEventLoop::registerFdCallback (fds[0], [] (int fd)
                                                      {
                                                          char drained[16];
                                                          [[maybe_unused]] auto n = ::read (fd, drained, sizeof (drained)); });
    }

    void wake()
    {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write (fds[1], &byte, 1);
    }

private:
    int fds[2] = {-1, -1};
};
#else
class JucePrompts::LoopWaker
{
public:
    void wake() {}
};
#endif

JucePrompts::JucePrompts() = default;
JucePrompts::~JucePrompts() = default;

void JucePrompts::requestQuit()
{
    juce::JUCEApplicationBase::quit();
    wakeEventLoop();
}

void JucePrompts::wakeEventLoop()
{
    if (waker == nullptr)
        waker = std::make_unique<LoopWaker>();
    waker->wake();
}

bool JucePrompts::quitRequested()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}
} // namespace zelvor
