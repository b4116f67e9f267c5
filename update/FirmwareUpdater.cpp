#include "update/FirmwareUpdater.h"

#include "link/Pacing.h"
#include "link/Protocol.h"
#include "update/FailureReason.h"
#include "update/KeepAwake.h"
#include "update/Prompts.h"
#include "update/RunDetails.h"
#include "update/Texts.h"
#include "update/UpdatePhase.h"

#include <cmath>

namespace zelvor
{
namespace
{
    juce::String capitalise (const juce::String& word)
    {
        return word.substring (0, 1).toUpperCase() + word.substring (1);
    }

    const char* searchBoxText (int search)
    {
        if (search == UnitSearch::several)
            return Texts::severalUnits;
        return search == UnitSearch::busy && FirmwareManager::isUnitPresent() ? Texts::portsBusy : Texts::notDetected;
    }

    // A box's own text, then the lines that say why (none when there is nothing to add).
    juce::String withReason (const juce::String& text, const juce::String& reason)
    {
        return reason.isEmpty() ? text : text + "\n" + reason;
    }

    juce::String failedBecause (const juce::String& reason)
    {
        return withReason (Texts::fullUpdateFailed, reason);
    }

    // Why the link's last run failed, in the words of the box.
    juce::String reasonOfLastRun (const FirmwareManager& link)
    {
        return failureLines (link.lastFailure(), link.lastKnownMode() == FirmwareManager::UnitMode::loader);
    }

    // The progress window's message. The warning stays for as long as anything is written; the
    // time left ("" while it is not known) has a line of its own from the start, so the window
    // does not grow when it is known. JUCE balances the last two lines of a box against each
    // other, wrapping a long last line: the two short ones go last.
    juce::String statusLines (const juce::String& status, const juce::String& timeLeft)
    {
        return juce::String (Texts::keepConnected) + "\n" + status + "\n" +
               (timeLeft.isEmpty() ? juce::String (Texts::timeLeftUnknown) : timeLeft);
    }

    // The tenths of the bar passed (a hair's allowance, so that 0.3 counts as three).
    int tenthsOf (double bar)
    {
        return (int) std::floor (bar * 10.0 + 1e-9);
    }

    juce::String resultMessage (int runResult, const juce::String& statusWord)
    {
        return Texts::resultStart + (runResult >= 0 ? juce::String ("successfully") : statusWord) + Texts::resultEnd;
    }
} // namespace

FirmwareUpdater::FirmwareUpdater()
    : juce::ThreadWithProgressWindow (Texts::progressTitle, true, true, Protocol::cancelTimeOutMs, Texts::cancelButton)
{
    // An "Exit" in either start-up box ends construction: the program is quitting, and the
    // panel stays safe to lay out, paint and destroy without a link.
    if (askUntil (
            &FirmwareManager::isUnitPresent, Texts::notDetected, [] { Pacing::sleep (Protocol::startUpRetryMs); }))
    {
        manager = std::make_unique<FirmwareManager>();
        askUntil (
            [this]
            { return FirmwareManager::isUnitPresent() && manager->midiIn != nullptr && manager->midiOut != nullptr; },
            [this] // a unit unplugged meanwhile is asked for, not said to be busy
            { return searchBoxText (manager->lastSearch.load()); },
            [this] { manager->reopenUnitPorts(); });
    }

    setName (Texts::progressTitle);

    addButton (openQexFileButton, " open QEX file", juce::Button::ConnectedOnRight);
    addButton (updateQexButton, " update QEX", juce::Button::ConnectedOnLeft);
    addButton (openDspFileButton, " open DSP file", juce::Button::ConnectedOnRight);
    addButton (updateDspButton, " update DSP", juce::Button::ConnectedOnLeft);

    qexLabel = std::make_unique<juce::Label> ("LabelQEX", juce::String());
    addAndMakeVisible (*qexLabel);
    qexLabel->setJustificationType (juce::Justification::centred);
    dspLabel = std::make_unique<juce::Label> ("LabelDSP", juce::String());
    addAndMakeVisible (*dspLabel);
    dspLabel->setJustificationType (juce::Justification::centred);
    statusLabel = std::make_unique<juce::Label> ("Label", juce::String());
    addAndMakeVisible (*statusLabel);

    addButton (updateAllButton, " Update Zelvor", 0);

    // The labels have no place in the window (see Layout): a screen reader must not find them.
    for (auto* label : {qexLabel.get(), dspLabel.get(), statusLabel.get()})
        label->setAccessible (false);
    if (auto* window = getAlertWindow())
        for (auto* child : window->getChildren())
            if (dynamic_cast<juce::ProgressBar*> (child) != nullptr)
                child->setTitle (Texts::progressBarName);

    // The panel takes the keyboard focus when shown, so that its two view keys reach it.
    setWantsKeyboardFocus (true);
    addKeyListener (this);
    showFileView (false);

    if (manager != nullptr)
        presenceWatch.startTimer (1000);
}

FirmwareUpdater::~FirmwareUpdater()
{
    // The worker uses the link: it must be gone before the link is.
    stopThread (Protocol::cancelTimeOutMs);
    progressRelay.stopTimer();
    presenceWatch.stopTimer();
    removeKeyListener (this);
    manager = nullptr;

    statusLabel = nullptr;
    dspLabel = nullptr;
    qexLabel = nullptr;
    updateAllButton = nullptr;
    updateDspButton = nullptr;
    openDspFileButton = nullptr;
    updateQexButton = nullptr;
    openQexFileButton = nullptr;
}

void FirmwareUpdater::addButton (std::unique_ptr<juce::TextButton>& button, const char* text, int connectedEdges)
{
    button = std::make_unique<juce::TextButton> (text, juce::String());
    addAndMakeVisible (*button);
    button->addListener (this);
    button->setColour (juce::TextButton::buttonColourId, juce::Colour (buttonColour));
    button->setColour (juce::TextButton::textColourOffId, juce::Colour (buttonTextColour));
    if (connectedEdges != 0)
        button->setConnectedEdges (connectedEdges);
    // Read out as a person would say it, without the leading space the button draws.
    button->setTitle (capitalise (juce::String (text).trimStart()));
}

bool FirmwareUpdater::askUntil (const std::function<bool()>& ready,
                                const char* boxText,
                                const std::function<void()>& tryAgain)
{
    return askUntil (
        ready, [boxText] { return boxText; }, tryAgain);
}

bool FirmwareUpdater::askUntil (const std::function<bool()>& ready,
                                const std::function<const char*()>& boxText,
                                const std::function<void()>& tryAgain)
{
    auto& prompts = Prompts::current();
    while (! ready())
    {
        if (prompts.quitRequested())
            return false;

        if (! prompts.askOkCancel (Prompts::Icon::warning, {}, boxText(), Texts::tryAgain, Texts::exit))
        {
            prompts.requestQuit();
            return false;
        }
        tryAgain();
    }
    return true;
}

bool FirmwareUpdater::powerOnWait (bool pauseBetweenBoxes, bool severalEndsWait)
{
    auto& prompts = Prompts::current();
    while (! manager->reopenUnitPorts())
    {
        // A quit ends the wait: the box would otherwise come back for ever.
        if (prompts.quitRequested())
            return false;

        // Inside a run, another unit ends it; before one, the user leaves only one connected. A
        // unit that is there but whose ports another program holds is not switched off: the user
        // is asked to free them. Both as at start-up.
        const auto search = manager->lastSearch.load();
        const bool several = search == UnitSearch::several;
        if (several && severalEndsWait)
            return false;
        if (several || (search == UnitSearch::busy && FirmwareManager::isUnitPresent()))
        {
            if (! prompts.askOkCancel (
                    Prompts::Icon::warning, {}, searchBoxText (search), Texts::tryAgain, Texts::exit))
                return prompts.requestQuit(), false;
            continue;
        }

        prompts.showMessage (Prompts::Icon::warning, {}, Texts::powerOn);
        if (pauseBetweenBoxes)
            Pacing::sleep (Protocol::betweenPowerOnBoxesMs);
    }
    return true;
}

FirmwareUpdater::Layout FirmwareUpdater::layoutFor (int width, int height)
{
    const int halfWidth = width / 2;
    const int halfHeight = height / 2;

    Layout layout;
    layout.openQexFile = {halfWidth - 100, 90, 100, 30};
    layout.updateQexFile = {halfWidth, 90, 100, 30};
    layout.openDspFile = {halfWidth - 100, halfHeight + 40, 100, 30};
    layout.updateDspFile = {halfWidth, halfHeight + 40, 100, 30};
    layout.updateAll = {halfWidth - 50, halfHeight, 100, 30};

    return layout;
}

void FirmwareUpdater::resized()
{
    const auto layout = layoutFor (getWidth(), getHeight());
    openQexFileButton->setBounds (layout.openQexFile);
    updateQexButton->setBounds (layout.updateQexFile);
    openDspFileButton->setBounds (layout.openDspFile);
    updateDspButton->setBounds (layout.updateDspFile);
    updateAllButton->setBounds (layout.updateAll);
    updateButtonStates();
}

void FirmwareUpdater::updateButtonStates()
{
    const bool present = FirmwareManager::isUnitPresent() && manager != nullptr;
    presenceWatch.shown = present;
    openQexFileButton->setEnabled (present);
    updateQexButton->setEnabled (present && manager->qexImageValid.load());
    openDspFileButton->setEnabled (present);
    updateDspButton->setEnabled (present && manager->dspImageLoaded.load());
    updateAllButton->setEnabled (present);
}

void FirmwareUpdater::PresenceWatch::timerCallback()
{
    // While a transfer runs, its threads open and close the ports: the ports are not listed
    // from here, and the buttons are set again when it ends.
    if (panel.runMode.load() != runNone)
        return;

    if (FirmwareManager::isUnitPresent() != shown)
    {
        panel.updateButtonStates();
        panel.repaint();
    }
}

void FirmwareUpdater::paint (juce::Graphics&)
{
    if (manager != nullptr && runMode.load() == runNone && ! FirmwareManager::isUnitPresent())
    {
        statusLabel->setText (Texts::unitMissingStatus, juce::dontSendNotification);
        statusLabel->setColour (juce::Label::textColourId, juce::Colour (0xFF0000FF));
        statusLabel->setFont (juce::Font (14.0f, juce::Font::plain));
    }
}

void FirmwareUpdater::showFileView (bool fileView)
{
    openQexFileButton->setVisible (fileView);
    updateQexButton->setVisible (fileView);
    openDspFileButton->setVisible (fileView);
    updateDspButton->setVisible (fileView);
    updateAllButton->setVisible (! fileView);
}

bool FirmwareUpdater::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    // A focused button takes Space as well as Return, as buttons do on every desktop; JUCE's
    // take Return only.
    if (key == juce::KeyPress (juce::KeyPress::spaceKey))
    {
        auto* button = dynamic_cast<juce::Button*> (juce::Component::getCurrentlyFocusedComponent());
        if (button == nullptr || ! isParentOf (button) || ! button->isEnabled() || ! button->isShowing())
            return false;
        button->triggerClick();
        return true;
    }

    if (! key.getModifiers().isShiftDown())
        return false;

    if (key.getKeyCode() == juce::KeyPress::pageUpKey)
    {
        showFileView (true);
        return true;
    }
    if (key.getKeyCode() == juce::KeyPress::pageDownKey)
    {
        showFileView (false);
        return true;
    }
    return false;
}

void FirmwareUpdater::buttonClicked (juce::Button* button)
{
    // Without a link (the user chose "Exit" at start-up) there is nothing to do.
    if (manager != nullptr)
    {
        if (button == openQexFileButton.get())
            openFile (true);
        else if (button == openDspFileButton.get())
            openFile (false);
        else if (button == updateQexButton.get())
            runSingle (true);
        else if (button == updateDspButton.get())
            runSingle (false);
        else if (button == updateAllButton.get())
            runFullUpdate();
    }
    updateButtonStates();

    // Back from its boxes, the keyboard is where it was, so that trying again is one key; a
    // button that went away leaves it with the panel.
    if (button->isShowing() && button->isEnabled())
        button->grabKeyboardFocus();
    else if (isShowing())
        grabKeyboardFocus();
}

void FirmwareUpdater::openFile (bool qex)
{
    const auto file =
        Prompts::current().chooseFileToOpen (Texts::chooseFile,
                                             juce::File::getSpecialLocation (juce::File::userHomeDirectory),
                                             qex ? "*.bin" : "dspflash*.syx");
    if (file == juce::File())
        return;

    const bool taken = qex ? manager->loadQexImageFile (file) : manager->loadDspImageFile (file);

    // A refused file leaves its update button disabled; the user is told why.
    if (! taken)
        Prompts::current().showMessage (Prompts::Icon::warning, {}, Texts::fileRefused + manager->imageError);
}

void FirmwareUpdater::setRunProgress (double value)
{
    workerProgress.store (value);
    setProgress (value);
}

void FirmwareUpdater::ProgressRelay::startTelling (const juce::String& phaseStatus)
{
    status = phaseStatus;
    told = statusLines (status, {});
    timeLeft = {};
    tenthsAnnounced = tenthsOf (panel.workerProgress.load());
    panel.setStatusMessage (told);
    Prompts::current().announce (status.trimCharactersAtEnd (" .") + ". " + Texts::keepConnected);
    startTimer (50);
}

void FirmwareUpdater::ProgressRelay::timerCallback()
{
    const double bar = panel.workerProgress.load();
    panel.setProgress (bar);

    // In the time a person waits, also where the demo runs the unit faster.
    const double transfer = juce::jlimit (0.0, 1.0, (bar - panel.phaseOffset.load()) * 2.0);
    const auto now = statusLines (status, timeLeft.update (juce::Time::getMillisecondCounterHiRes(), transfer));
    if (now != told)
    {
        told = now;
        panel.setStatusMessage (told); // which JUCE also gives the window as its description
    }

    const int tenths = tenthsOf (bar);
    if (tenths > tenthsAnnounced && tenths < 10)
        Prompts::current().announce (juce::String::formatted (Texts::percentDone, tenths * 10));
    tenthsAnnounced = std::max (tenths, tenthsAnnounced);
}

juce::String FirmwareUpdater::runTransfer (RunMode mode, double offset)
{
    // While the unit is written: a computer that sleeps then leaves it half written. A box that
    // waits for a person holds nothing, so the computer may sleep as it would without us.
    const KeepAwake awake (Texts::keepAwakeReason);
    qexJustWritten = false;
    runResult.store (0);
    phaseOffset.store (offset);
    runMode.store (mode);

    progressRelay.startTelling (mode == runQex ? Texts::downloadingQex : Texts::downloadingDsp);
    const bool endedByItself = Prompts::current().runWithProgressWindow (*this);
    progressRelay.stopTimer();

    // A cancelled run has told the link to stop; its worker may still be passing over what is
    // left. It must be gone before the ports are reopened here; the wait for it is bounded, and
    // a worker that outlives it leaves the run failed (see FirmwareManager::reopenUnitPorts).
    const bool workerEnded = manager->waitForWorkerToEnd();

    juce::String word;
    if (! endedByItself)
    {
        runResult.store (phaseCancelled);
        word = "canceled";
    }
    else if (! workerEnded)
    {
        runResult.store (phaseFailed);
        word = "failed";
    }
    else
    {
        word = runResult.load() >= 0 ? "done" : "failed";
        qexJustWritten = mode == runQex && runResult.load() >= 0;
    }
    runMode.store (runNone);

    return word;
}

void FirmwareUpdater::runSingle (bool qex)
{
    if (! powerOnWait())
        return;

    if (! qex && dspAloneMeetsALoader (*manager))
    {
        Prompts::current().showMessage (
            Prompts::Icon::warning, {}, qexJustWritten ? Texts::dspNeedsPowerCycle : Texts::dspNeedsQex);
        // Told once: a unit that still starts its loader after that waits for its QEX firmware.
        qexJustWritten = false;
        return;
    }

    setRunProgress (0.0);
    auto& label = qex ? *qexLabel : *dspLabel;
    const juce::String labelText = qex ? Texts::qexLabelRunning : Texts::dspLabelRunning;
    label.setText (labelText, juce::dontSendNotification);

    const auto word = runTransfer (qex ? runQex : runDsp, qex ? 0.5 : 0.0);
    label.setText (labelText + " " + word, juce::dontSendNotification);

    const auto result = runResult.load();
    const bool failed = result < 0;
    Prompts::current().announce (resultMessage (result, word));
    Prompts::current().showMessage (
        Prompts::Icon::info,
        {},
        withReason (resultMessage (result, word), failed ? reasonOfLastRun (*manager) : juce::String()),
        failed ? runDetails (*manager, qex ? "QEX update from a file" : "DSP update from a file") : juce::String());

    if (qex)
        Pacing::sleep (Protocol::afterSingleQexMs);
    powerOnWait (false, true);
}

void FirmwareUpdater::runFullUpdate()
{
    auto& prompts = Prompts::current();
    bool succeeded = false;
    // Only a success hides the button: after a failure or a cancel, trying again is one click.
    auto finish = [this, &succeeded] { updateAllButton->setVisible (! succeeded); };

    if (selectImagesToWrite (*manager, {}))
    {
        prompts.showMessage (Prompts::Icon::warning, {}, Texts::corrupted);
        return finish();
    }

    if (! powerOnWait())
        return finish();

    setRunProgress (0.0);
    juce::String word;
    FullUpdateSteps steps;
    steps.runPhase = [this, &word] (FirmwareKind kind, int index)
    {
        // The bar fills once: the first phase in its lower half, the second in its upper half.
        const bool dsp = kind == FirmwareKind::dsp;
        dspLabel->setText (Texts::updating, juce::dontSendNotification);
        word = runTransfer (dsp ? runDsp : runQex, index == 0 ? 0.0 : 0.5);
        if (dsp)
            dspLabel->setText (Texts::dspLabelStart + capitalise (word), juce::dontSendNotification);
        else
            qexLabel->setText ("downloading QEX firmware " + word, juce::dontSendNotification);
        return runResult.load();
    };
    steps.askForPowerCycle = [this, &prompts] (FirmwareKind written)
    {
        // A cancel here leaves the other firmware unwritten, and the user is told so.
        const bool dspWritten = written == FirmwareKind::dsp;
        if (! prompts.askOkCancel (Prompts::Icon::info,
                                   {},
                                   dspWritten ? Texts::dspWrittenContinue : Texts::qexWrittenContinue,
                                   Texts::continueButton,
                                   Texts::cancelButton))
        {
            if (dspWritten)
                qexLabel->setText ("downloading QEX firmware canceled", juce::dontSendNotification);
            else
                dspLabel->setText (Texts::dspLabelStart + juce::String (Texts::canceled), juce::dontSendNotification);
            prompts.showMessage (Prompts::Icon::info, Texts::canceled, Texts::fullUpdateFailed);
            return false;
        }
        // The user says the unit was power cycled: a loader after this is not the QEX just written.
        qexJustWritten = false;

        dspLabel->setText (Texts::updating, juce::dontSendNotification);
        setRunProgress (0.49);
        return true;
    };
    steps.waitForUnit = [this, &prompts]
    {
        dspLabel->setText (Texts::updating, juce::dontSendNotification);
        setRunProgress (0.5);
        if (powerOnWait (false, true))
            return true;
        // Another unit beside the one written: nothing tells which is which.
        if (! prompts.quitRequested())
            prompts.showMessage (Prompts::Icon::info, {}, failedBecause (Texts::anotherUnitJoined));
        return false;
    };

    const auto outcome = runFullUpdateSequence (*manager, steps);
    if (outcome.stoppedBetween)
        return finish();

    // Why the run stopped, where it was the unit's identity.
    juce::String failedText = Texts::fullUpdateFailed;
    if (outcome.wrongModeAfterCycle)
        failedText =
            failedBecause (outcome.lastKind == FirmwareKind::qex ? Texts::stillInLoader : Texts::notTheUnitWritten);
    else if (manager->anotherUnitSeen.load())
        failedText = failedBecause (Texts::anotherUnitJoined);
    else
        failedText = failedBecause (reasonOfLastRun (*manager));

    // Only a failure's box offers them: made then, as they list the MIDI ports again.
    auto details = [this, &outcome]
    {
        return runDetails (*manager,
                           juce::String ("full update, ") + (outcome.lastKind == FirmwareKind::qex ? "QEX" : "DSP") +
                               " phase, " + juce::String (outcome.phasesRun) + " of 2 run");
    };
    if (outcome.phasesRun == 1)
    {
        prompts.announce (failedText);
        prompts.showMessage (Prompts::Icon::info,
                             outcome.wrongModeAfterCycle ? juce::String() : capitalise (word),
                             failedText,
                             details());
        return finish();
    }

    succeeded = outcome.result >= 0;
    prompts.announce (succeeded ? resultMessage (outcome.result, word) : failedText);
    if (succeeded)
        prompts.showMessage (Prompts::Icon::info, {}, resultMessage (outcome.result, word));
    else
        prompts.showMessage (Prompts::Icon::info, {}, failedText, details());

    Pacing::sleep (Protocol::afterFullUpdateMs);
    powerOnWait (true, true);
    finish();
}

void FirmwareUpdater::run()
{
    const bool qex = runMode.load() == runQex;
    if (runMode.load() == runNone)
    {
        Pacing::sleep (Protocol::idleRunMs);
        return;
    }

    const double offset = phaseOffset.load();
    runResult.store (runUpdatePhase (
        *manager,
        qex ? FirmwareKind::qex : FirmwareKind::dsp,
        [this, offset] (double linkProgress) { workerProgress.store (linkProgress * 0.5 + offset); },
        [this] { return threadShouldExit(); }));
}
} // namespace zelvor
