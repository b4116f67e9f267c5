#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace zelvor
{
// Everything the updater asks of the user, or of the application, goes through here: the modal
// boxes, the file-open dialog, the modal progress window and quit requests. The program uses
// JUCE's own; tests answer from a script and record what was asked.
class Prompts
{
public:
    enum class Icon
    {
        warning,
        info
    };

    virtual ~Prompts() = default;

    // A box with the one button "Ok" (Return and Escape press it). With details, a failure's,
    // the box also offers "Copy details" (or Ctrl+C), which puts them on the clipboard and
    // leaves the box open.
    virtual void
    showMessage (Icon icon, const juce::String& title, const juce::String& message, const juce::String& details) = 0;
    void showMessage (Icon icon, const juce::String& title, const juce::String& message)
    {
        showMessage (icon, title, message, {});
    }

    // A box with two buttons; true when the first was chosen.
    virtual bool askOkCancel (Icon icon,
                              const juce::String& title,
                              const juce::String& message,
                              const juce::String& firstButton,
                              const juce::String& secondButton) = 0;

    // The platform's file-open dialog; a File{} when the user cancelled.
    virtual juce::File
    chooseFileToOpen (const juce::String& title, const juce::File& startDirectory, const juce::String& patterns) = 0;

    // Runs the window's thread behind its modal window; true when the thread ended by itself,
    // false when the user cancelled (the thread has ended by then).
    virtual bool runWithProgressWindow (juce::ThreadWithProgressWindow& window) = 0;

    // Tells a screen reader, where one listens, what is going on (the phase, the progress, the
    // result); nothing is shown.
    virtual void announce (const juce::String& text) = 0;

    // Asks the application to quit once the current event has been handled.
    virtual void requestQuit() = 0;

    // True once a quit has been requested, from here or from the window's close button: every
    // loop that waits for the user gives up then.
    virtual bool quitRequested() = 0;

    // The prompts in use: the installed ones, or JUCE's.
    static Prompts& current();

    // Installs prompts for the whole process (null restores JUCE's). The caller keeps ownership.
    static void install (Prompts* prompts);
};

// JUCE's modal boxes, file chooser and application quit.
class JucePrompts : public Prompts
{
public:
    JucePrompts();
    ~JucePrompts() override;

    using Prompts::showMessage;
    void showMessage (Icon icon,
                      const juce::String& title,
                      const juce::String& message,
                      const juce::String& details) override;
    bool askOkCancel (Icon icon,
                      const juce::String& title,
                      const juce::String& message,
                      const juce::String& firstButton,
                      const juce::String& secondButton) override;
    juce::File chooseFileToOpen (const juce::String& title,
                                 const juce::File& startDirectory,
                                 const juce::String& patterns) override;
    bool runWithProgressWindow (juce::ThreadWithProgressWindow& window) override;
    void announce (const juce::String& text) override;
    void requestQuit() override;
    bool quitRequested() override;

    // Keys that reach the progress window this soon after it opened were typed for what was
    // there before it (a box's Return pressed twice) and are dropped.
    static constexpr int progressKeyGuardMs = 500;

    // A wait on the message thread during which the windows repaint and their timers run while
    // clicks and keys are swallowed; false off the message thread or once the program quits.
    // Installed as the pacing's window-thread wait by the application.
    static bool waitWithWindowsLive (double realMilliseconds);

protected:
    // Told the text of the button that closed a box, or an empty text when none did (a quit).
    virtual void boxAnswered (const juce::String& buttonText);
    // Told when "Copy details" has put a box's details on the clipboard.
    virtual void detailsCopied();

private:
    int runBox (juce::AlertWindow& box, const juce::String& message);
    void wakeEventLoop();
    class LoopWaker;
    std::unique_ptr<LoopWaker> waker;
};
} // namespace zelvor
