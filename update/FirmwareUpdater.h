#pragma once

#include "link/FirmwareManager.h"
#include "update/TimeLeft.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <functional>
#include <memory>

namespace zelvor
{
// The panel that fills the main window: it insists on a connected, free unit before it comes
// up, owns the link to the unit, and offers the full update (normal view) or one firmware from
// a file (file view, Shift + Page Up; Shift + Page Down goes back). It is also the worker of
// the modal progress window behind which each transfer runs.
class FirmwareUpdater : public juce::Component,
                        public juce::Button::Listener,
                        public juce::ThreadWithProgressWindow,
                        public juce::KeyListener
{
public:
    FirmwareUpdater();
    ~FirmwareUpdater() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void updateButtonStates();
    using juce::Component::keyPressed;
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;
    void buttonClicked (juce::Button* button) override;
    void run() override;

    // Where each button goes in a panel of the given size. The labels get no place: what they
    // say, the boxes and the progress window have told the user, and in the 400 x 200 window
    // they could only lie over the logo and outlive the state they describe.
    struct Layout
    {
        juce::Rectangle<int> openQexFile, updateQexFile, openDspFile, updateDspFile, updateAll;
    };
    static Layout layoutFor (int width, int height);

    static constexpr juce::uint32 buttonColour = 0xFF4682B4;
    static constexpr juce::uint32 buttonTextColour = 0xFFFFFFFF;

    enum RunMode
    {
        runNone = 0,
        runQex = 1,
        runDsp = 2
    };

    std::unique_ptr<juce::TextButton> openQexFileButton;
    std::unique_ptr<juce::TextButton> updateQexButton;
    std::unique_ptr<juce::TextButton> openDspFileButton;
    std::unique_ptr<juce::TextButton> updateDspButton;
    std::unique_ptr<juce::TextButton> updateAllButton;
    std::unique_ptr<FirmwareManager> manager;
    std::unique_ptr<juce::Label> qexLabel;
    std::unique_ptr<juce::Label> dspLabel;
    std::unique_ptr<juce::Label> statusLabel;
    std::atomic<int> runMode{runNone};
    std::atomic<int> runResult{0};

private:
    // Repeats a start-up box ("Try again" / "Exit") until ready() holds; false when the user
    // chose "Exit" or a quit was requested.
    bool askUntil (const std::function<bool()>& ready, const char* boxText, const std::function<void()>& tryAgain);
    // The same, with the box's text chosen afresh before each box.
    bool askUntil (const std::function<bool()>& ready,
                   const std::function<const char*()>& boxText,
                   const std::function<void()>& tryAgain);
    // Reopens the unit's ports, asking for the unit (or for its ports to be freed) until they
    // open; false when they did not (a quit, or several units where severalEndsWait).
    bool powerOnWait (bool pauseBetweenBoxes = false, bool severalEndsWait = false);
    // Runs one transfer behind the progress window, its progress in the bar's lower half
    // (offset 0) or upper half (offset 0.5); returns the status word for its outcome ("done",
    // "failed" or "canceled").
    juce::String runTransfer (RunMode mode, double offset);
    void openFile (bool qex);
    void runSingle (bool qex);
    void runFullUpdate();
    void showFileView (bool fileView);
    void addButton (std::unique_ptr<juce::TextButton>& button, const char* text, int connectedEdges);

    // The worker writes the progress here; a timer on the message thread hands it to the
    // window's bar, whose own value is a plain double, and tells the status and the time left
    // (in the window and to a screen reader) from it.
    std::atomic<double> workerProgress{0.0};
    std::atomic<double> phaseOffset{0.0}; // where in the bar the running transfer moves
    struct ProgressRelay : juce::Timer
    {
        explicit ProgressRelay (FirmwareUpdater& p) : panel (p)
        {
        }
        void timerCallback() override;
        FirmwareUpdater& panel;

        // Of the running transfer, on the message thread only.
        void startTelling (const juce::String& phaseStatus);
        juce::String status; // "Downloading ... Firmware ... "
        juce::String told;   // what the window shows now
        TimeLeft timeLeft;
        int tenthsAnnounced = 0; // of the whole bar
    };
    ProgressRelay progressRelay{*this};

    // Nothing else tells the panel that the unit was plugged in or out while it sits idle: the
    // buttons follow the unit's presence within a second.
    struct PresenceWatch : juce::Timer
    {
        explicit PresenceWatch (FirmwareUpdater& p) : panel (p)
        {
        }
        void timerCallback() override;
        FirmwareUpdater& panel;
        bool shown = false; // the presence the buttons were last set for
    };
    PresenceWatch presenceWatch{*this};
    void setRunProgress (double value);

    // The last run wrote the QEX firmware: a unit still in its loader has not been power cycled
    // since, rather than waiting for its QEX firmware. On the window thread only.
    bool qexJustWritten = false;

    JUCE_DECLARE_NON_COPYABLE (FirmwareUpdater)
};
} // namespace zelvor
