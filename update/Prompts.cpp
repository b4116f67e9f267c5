#include "update/Prompts.h"

#include "link/Protocol.h"
#include "update/Texts.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#if JUCE_LINUX
 #include <fcntl.h>
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

void JucePrompts::showMessage (Icon icon,
                               const juce::String& title,
                               const juce::String& message,
                               const juce::String& details)
{
    // Built here rather than by showMessageBox, whose one button says "OK".
    std::unique_ptr<juce::AlertWindow> box (juce::LookAndFeel::getDefaultLookAndFeel().createAlertWindow (
        title, message, Texts::okButton, {}, {}, iconType (icon), 1, nullptr));
    if (details.isNotEmpty())
    {
        // A button that copies and leaves the box open: the person still has to read it.
        box->addButton (Texts::copyDetails, 0, juce::KeyPress ('c', juce::ModifierKeys::commandModifier, 0));
        juce::TextButton* copy = nullptr;
        for (auto* child : box->getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (child))
                if (button->getButtonText() == Texts::copyDetails)
                    copy = button;
        jassert (copy != nullptr);
        if (copy != nullptr)
            copy->onClick = [this, copy, details]
            {
                juce::SystemClipboard::copyTextToClipboard (details);
                copy->setButtonText (Texts::detailsCopied);
                detailsCopied();
            };
    }
    runBox (*box, message);
}

bool JucePrompts::askOkCancel (Icon icon,
                               const juce::String& title,
                               const juce::String& message,
                               const juce::String& firstButton,
                               const juce::String& secondButton)
{
    std::unique_ptr<juce::AlertWindow> box (juce::LookAndFeel::getDefaultLookAndFeel().createAlertWindow (
        title, message, firstButton, secondButton, {}, iconType (icon), 2, nullptr));
    return runBox (*box, message) == 1; // the first button returns 1, the second and a quit 0
}

int JucePrompts::runBox (juce::AlertWindow& box, const juce::String& message)
{
    // A screen reader reads a box by its title and description. JUCE makes the description
    // "title. message", which for the many boxes without a title starts with a stray ". ": the
    // box gets the program's name for a title and its message alone for a description.
    if (box.getTitle().isEmpty())
        box.setTitle (Texts::programName);
    box.setDescription (message);

    // Which button closed the box, read off the button itself.
    struct Clicked : juce::Button::Listener
    {
        void buttonClicked (juce::Button* button) override
        {
            text = button->getButtonText();
        }
        juce::String text;
    } clicked;

    juce::Array<juce::Button*> buttons;
    for (auto* child : box.getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
        {
            button->addListener (&clicked);
            buttons.add (button);
        }

    const int result = box.runModalLoop();
    for (auto* button : buttons)
        button->removeListener (&clicked);
    boxAnswered (clicked.text);
    return result;
}

void JucePrompts::boxAnswered (const juce::String&)
{
}

void JucePrompts::detailsCopied()
{
}

juce::File JucePrompts::chooseFileToOpen (const juce::String& title,
                                          const juce::File& startDirectory,
                                          const juce::String& patterns)
{
    if (juce::FileChooser::isPlatformDialogAvailable())
    {
        juce::FileChooser chooser (title, startDirectory, patterns);
        if (chooser.browseForFileToOpen())
            return chooser.getResult();
        return {};
    }

    // JUCE's own dialog, the one it shows where the desktop offers none, as JUCE builds it, but
    // no larger than the screen: at its fixed 600 x 500 a small screen cuts its title off.
    juce::WildcardFileFilter filter (patterns, {}, {});
    juce::FileBrowserComponent browser (juce::FileBrowserComponent::openMode |
                                            juce::FileBrowserComponent::canSelectFiles,
                                        startDirectory,
                                        &filter,
                                        nullptr);
    juce::FileChooserDialogBox box (
        title, {}, browser, false, browser.findColour (juce::AlertWindow::backgroundColourId));
    int width = 600, height = 500;
    if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
    {
        width = juce::jmin (width, display->userArea.getWidth() - 20);
        height = juce::jmin (height, display->userArea.getHeight() - 60);
    }
    if (box.show (width, height))
        return browser.getSelectedFile (0);
    return {};
}

namespace
{
    // Keys for the progress window, seen before the window or its button handles them. JUCE gives
    // its one button, Cancel, both Return and Escape as shortcuts: here Escape alone is left, no key
    // does anything in the window's first moments (it was typed for what came before, a box's
    // Return pressed twice), and Return never cancels: a cancel is a click or Escape.
    class ProgressKeyGuard : public juce::KeyListener
    {
    public:
        explicit ProgressKeyGuard (juce::AlertWindow& window) : alert (window)
        {
            alert.addKeyListener (this);
            for (auto* child : alert.getChildren())
                if (auto* button = dynamic_cast<juce::Button*> (child))
                    buttons.add (button);
            for (auto* button : buttons)
            {
                button->clearShortcuts();
                button->addShortcut (juce::KeyPress (juce::KeyPress::escapeKey));
                button->addKeyListener (this);
            }
        }

        ~ProgressKeyGuard() override
        {
            for (auto* button : buttons)
                button->removeKeyListener (this);
            alert.removeKeyListener (this);
        }

        // Shortcuts fire from key state changes: those too wait out the first moments.
        bool keyStateChanged (bool, juce::Component*) override
        {
            return justOpened();
        }

        bool keyPressed (const juce::KeyPress& key, juce::Component*) override
        {
            return justOpened() || key.isKeyCode (juce::KeyPress::returnKey);
        }

    private:
        bool justOpened() const
        {
            return juce::Time::getMillisecondCounter() - openedAt < (juce::uint32) JucePrompts::progressKeyGuardMs;
        }

        juce::AlertWindow& alert;
        juce::Array<juce::Button*> buttons;
        const juce::uint32 openedAt = juce::Time::getMillisecondCounter();
    };
} // namespace

bool JucePrompts::runWithProgressWindow (juce::ThreadWithProgressWindow& window)
{
    // JUCE's runThread, except for a quit (Ctrl+C, the platform) while the window is up: JUCE's
    // own loop would then spin for ever, its timer never called again. Here the quit cancels
    // the run as the window's "Cancel" does.
    window.launchThread (juce::Thread::Priority::normal);
    auto* alert = window.getAlertWindow();
    auto* messageManager = juce::MessageManager::getInstance();

    ProgressKeyGuard keyGuard (*alert);

    while (alert->isCurrentlyModal (false))
    {
        if (! messageManager->runDispatchLoopUntil (5))
        {
            window.stopThread (Protocol::cancelTimeOutMs);
            alert->exitModalState (0);
            alert->setVisible (false);
            wakeEventLoop();
            return false;
        }
    }

    // The window closes by itself only once the thread has ended; still running means "Cancel".
    // The window's timer may have run in the same slice as the click and stopped the thread
    // already: it only ever stops a running thread, which then has been told to exit.
    const bool cancelled = window.isThreadRunning() || window.threadShouldExit();
    if (cancelled)
        window.stopThread (Protocol::cancelTimeOutMs);
    return ! cancelled;
}

void JucePrompts::announce (const juce::String& text)
{
    juce::AccessibilityHandler::postAnnouncement (text, juce::AccessibilityHandler::AnnouncementPriority::medium);
}

bool JucePrompts::waitWithWindowsLive (double realMilliseconds)
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    if (messageManager == nullptr || ! messageManager->isThisTheMessageThread() ||
        messageManager->hasStopMessageBeenSent())
        return false;

    // Modal and unseen: the windows keep painting, but nothing the user does meanwhile reaches
    // them, nor waits in a queue to land on whatever opens next.
    // Only the quit key still works: a user who wants out need not wait.
    struct InputSink : juce::Component
    {
        void inputAttemptWhenModal() override
        {
        }
        bool keyPressed (const juce::KeyPress& key) override
        {
            if (key == juce::KeyPress ('q', juce::ModifierKeys::commandModifier, 0))
                if (auto* app = juce::JUCEApplicationBase::getInstance())
                    app->systemRequestedQuit();
            return true;
        }
    } sink;
    sink.enterModalState (false);

    const double end = juce::Time::getMillisecondCounterHiRes() + realMilliseconds;
    for (double left = realMilliseconds; left > 0.0; left = end - juce::Time::getMillisecondCounterHiRes())
    {
        if (! messageManager->runDispatchLoopUntil ((int) std::ceil (std::min (left, 20.0))))
        {
            // Quitting: the loop dispatches nothing more, but the wait is still owed.
            sink.exitModalState (0);
            juce::Thread::sleep ((int) std::ceil (std::max (0.0, end - juce::Time::getMillisecondCounterHiRes())));
            return true;
        }
    }
    sink.exitModalState (0);
    return true;
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
        // Close-on-exec: the file chooser's helper process must not inherit it.
        if (::pipe2 (fds, O_CLOEXEC) == 0)
            juce::LinuxEventLoop::registerFdCallback (fds[0],
                                                      [] (int fd)
                                                      {
                                                          char drained[16];
                                                          [[maybe_unused]] auto n =
                                                              ::read (fd, drained, sizeof (drained));
                                                      });
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
    void wake()
    {
    }
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
