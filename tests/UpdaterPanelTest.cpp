// The updater panel against the virtual unit, with every box answered from a script and time
// compressed: the start-up loops, the views and layout, and every branch of the update runs.

#include "TestSupport.h"

#include "link/SysexCodec.h"
#include "sim/HeadlessUpdate.h"
#include "sim/VirtualUnit.h"
#include "update/FirmwareUpdater.h"
#include "update/KeepAwake.h"
#include "update/Prompts.h"
#include "update/Texts.h"

#include <BinaryData.h>
#include <BuiltInVersions.h>

#include <algorithm>
#include <cmath>
#include <deque>

using namespace zelvor;
using namespace zelvor::test;

namespace
{
const juce::String continueText = Texts::dspWrittenContinue;
const juce::String qexFirstContinueText = Texts::qexWrittenContinue;
const juce::String fullFailedText = Texts::fullUpdateFailed;
const juce::String updatingText = Texts::updating;

// The box at the end of a single firmware's run.
juce::String resultText (const char* word)
{
    return Texts::resultStart + juce::String (word) + Texts::resultEnd;
}
const juce::String successText = resultText ("successfully");

Bytes resourceBytes (const char* data, int size)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*> (data);
    return {bytes, bytes + size};
}

// Answers every prompt from a script and records what was asked, in order.
struct ScriptedPrompts : Prompts
{
    struct Asked
    {
        juce::String kind; // "message", "okCancel", "file", "progress"
        Icon icon = Icon::info;
        juce::String title, message;
        juce::String details; // what "Copy details" would copy; none when it is not offered
        double slept = 0.0;   // protocol time the panel's thread had slept when this came up
    };

    std::vector<Asked> asked;
    std::deque<bool> answers;                 // for askOkCancel: true chooses the first button
    std::deque<juce::File> files;             // for chooseFileToOpen
    std::function<void (const Asked&)> onAsk; // acts as the user would while a box is up
    std::function<bool()> cancelWhen;         // presses the progress window's "Cancel"
    bool cancelAsTheRunEnds = false;          // the click lands just as the run ends by itself
    std::atomic<int> quits{0};
    juce::String lastFilePatterns;

    std::function<void (const Asked&)> user; // what the person at the desk does for each box

    void record (Asked a)
    {
        a.slept = Pacing::sleptOnThisThread();
        asked.push_back (a);
        if (user != nullptr)
            user (a);
        if (onAsk != nullptr)
            onAsk (a);
        // A box that keeps coming back is a hang in the making.
        if (asked.size() > 60)
        {
            ADD_FAILURE() << "too many prompts; last: " << a.message;
            requestQuit();
        }
    }

    using Prompts::showMessage;
    void showMessage (Icon icon,
                      const juce::String& title,
                      const juce::String& message,
                      const juce::String& details) override
    {
        record ({"message", icon, title, message, details});
    }

    bool askOkCancel (Icon icon,
                      const juce::String& title,
                      const juce::String& message,
                      const juce::String& first,
                      const juce::String& second) override
    {
        record ({"okCancel", icon, title, message + " [" + first + "/" + second + "]", {}});
        if (answers.empty())
        {
            ADD_FAILURE() << "unexpected question: " << message;
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    juce::File chooseFileToOpen (const juce::String& title, const juce::File&, const juce::String& patterns) override
    {
        record ({"file", Icon::info, title, patterns, {}});
        lastFilePatterns = patterns;
        if (files.empty())
            return {};
        auto file = files.front();
        files.pop_front();
        return file;
    }

    // Runs the worker with the message loop going, as the window does, and keeps what the
    // window's bar shows meanwhile.
    bool runWithProgressWindow (juce::ThreadWithProgressWindow& window) override
    {
        record ({"progress", Icon::info, {}, {}, {}});
        auto& shown = bars.emplace_back();
        auto* bar = barOf (window);
        window.startThread();
        while (window.isThreadRunning())
        {
            if (cancelWhen != nullptr && cancelWhen())
            {
                window.stopThread (Protocol::cancelTimeOutMs);
                return false;
            }
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
            if (bar != nullptr)
            {
                bar->createComponentSnapshot (bar->getLocalBounds());
                shown.push_back (barLook.drawn);
            }
        }
        return ! cancelAsTheRunEnds;
    }

    // The window is never put on the screen here, so its bar is shown by hand (which starts
    // its own timer) and drawn with a look that notes the value it is given.
    struct BarLook : juce::LookAndFeel_V2
    {
        void drawProgressBar (juce::Graphics&, juce::ProgressBar&, int, int, double value, const juce::String&) override
        {
            drawn = value;
        }
        double drawn = -1.0;
    } barLook;

    juce::ProgressBar* barOf (juce::ThreadWithProgressWindow& window)
    {
        for (auto* child : window.getAlertWindow()->getChildren())
            if (auto* bar = dynamic_cast<juce::ProgressBar*> (child))
            {
                bar->setLookAndFeel (&barLook);
                bar->setVisible (false);
                bar->setVisible (true);
                return bar;
            }
        ADD_FAILURE() << "the progress window has no bar";
        return nullptr;
    }
    std::vector<std::vector<double>> bars; // each run's bar, as it moved

    juce::StringArray announced; // what a screen reader was told, in order
    void announce (const juce::String& text) override
    {
        announced.add (text);
    }

    void requestQuit() override
    {
        ++quits;
    }

    bool quitRequested() override
    {
        return quits.load() > 0;
    }

    juce::StringArray kinds() const
    {
        juce::StringArray result;
        for (auto& a : asked)
            result.add (a.kind);
        return result;
    }
};

// Stands for the system's hold on sleep: a run must hold it while anything goes to the unit.
struct RecordingKeepAwake : KeepAwake::Service
{
    std::atomic<bool> held{false};
    int holds = 0;

    void hold (const char* reason) override
    {
        EXPECT_FALSE (held.load()) << "held twice";
        EXPECT_STRNE (reason, "");
        held = true;
        ++holds;
    }

    void release() override
    {
        held = false;
    }
};

// JUCE lays out its alert windows (the progress window among them) on a display. Without an X
// server it finds none, so a stand-in display is listed: these tests open no window.
void ensureADisplay()
{
    auto& displays = const_cast<juce::Displays&> (juce::Desktop::getInstance().getDisplays());
    if (displays.displays.isEmpty())
    {
        juce::Displays::Display display;
        display.totalArea = display.userArea = {0, 0, 1280, 800};
        display.isMain = true;
        display.scale = 1.0;
        display.dpi = 96.0;
        displays.displays.add (display);
    }
}

class UpdaterPanel : public WithVirtualMidi
{
protected:
    UpdaterPanel()
    {
        ensureADisplay();
        service.setTrafficTap (
            [this] (bool toDevice, const std::uint8_t* data, int size)
            {
                // Asking who a unit is writes nothing: it may come while the computer may sleep.
                const bool identityRequest = Sysex::matchesMessage (data, size, Sysex::identityRequest);
                if (toDevice && ! keepAwake.held.load() && ! identityRequest)
                    ++sentWhileSleepAllowed;
                // The QEX phase's loader commands; the identity request only asks who the unit is.
                if (toDevice && size > 2 && data[0] == 0xF0 && data[1] == 0x06 && data[2] == 0x00)
                    ++qexMessagesSent;
            });
        Pacing::setSpeed (200.0);
        Prompts::install (&prompts);
        KeepAwake::install (&keepAwake);
        // Told to, the user power-cycles the unit or switches it back on.
        prompts.user = [this] (const ScriptedPrompts::Asked& a)
        {
            // A box may wait for a person all night: the computer may sleep meanwhile.
            if (a.kind != "progress" && keepAwake.held.load())
                ++boxesWhileHeld;
            if (unit != nullptr && (a.message.startsWith (continueText) || a.message.startsWith (qexFirstContinueText)))
                unit->powerCycle();
            if (unit != nullptr && a.message == Texts::powerOn)
                unit->plugIn();
        };
    }

    ~UpdaterPanel() override
    {
        panel = nullptr;
        unit = nullptr;
        Prompts::install (nullptr);
        KeepAwake::install (nullptr);
        // Whatever the run did, the computer could not sleep while the unit was being written,
        // and may again once it was over.
        EXPECT_EQ (sentWhileSleepAllowed.load(), 0);
        EXPECT_EQ (boxesWhileHeld.load(), 0);
        EXPECT_FALSE (keepAwake.held.load());
    }

    FirmwareUpdater& makePanel()
    {
        panel = std::make_unique<FirmwareUpdater>();
        panel->setSize (400, 200);
        return *panel;
    }

    // A unit left in its loader, whose loader also records DSP, so that any DSP sent to it shows.
    FirmwareUpdater& makeLoaderUnitAndPanel (const juce::String& fault = "none")
    {
        VirtualUnit::Options options;
        options.startInLoader = true;
        options.loaderTakesDsp = true;
        unit = std::make_unique<VirtualUnit> (service, options);
        unit->setFault (fault);
        return makePanel();
    }

    FirmwareUpdater& makeUnitAndPanel (const juce::String& fault = "none")
    {
        unit = std::make_unique<VirtualUnit> (service);
        unit->setFault (fault);
        return makePanel();
    }

    void click (juce::TextButton& button)
    {
        panel->buttonClicked (&button);
    }

    bool qexPhaseStarted() const
    {
        return qexMessagesSent.load() > 0;
    }

    // Pixels the panel draws outside its visible buttons. It paints nothing of its own, so any
    // such pixel is a label's text, which would lie over the logo and outlast what it says.
    int strayPixels()
    {
        const auto image = panel->createComponentSnapshot (panel->getLocalBounds(), true, 1.0f);
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
        int stray = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (pixels.getPixelColour (x, y).getAlpha() != 0)
                    stray += std::none_of (panel->getChildren().begin(),
                                           panel->getChildren().end(),
                                           [x, y] (juce::Component* c) {
                                               return dynamic_cast<juce::Button*> (c) != nullptr && c->isVisible() &&
                                                      c->getBounds().contains (x, y);
                                           });
        return stray;
    }

    // Runs the message loop (timers included) until the condition holds or five seconds pass.
    static bool dispatchUntil (const std::function<bool()>& condition)
    {
        for (int i = 0; i < 100 && ! condition(); ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
        return condition();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    ScriptedPrompts prompts;
    std::unique_ptr<VirtualUnit> unit;
    std::unique_ptr<FirmwareUpdater> panel;
    std::atomic<int> qexMessagesSent{0};
    RecordingKeepAwake keepAwake;
    std::atomic<int> sentWhileSleepAllowed{0};
    std::atomic<int> boxesWhileHeld{0}; // boxes shown on the message thread while the hold was taken
};

TEST_F (UpdaterPanel, FullUpdateWritesBothImagesBehindExactlyTwoBoxes)
{
    auto& p = makeUnitAndPanel();
    prompts.answers = {true};
    // No text is left in the window beside a box, nor after the last one.
    int stray = 0;
    prompts.onAsk = [&] (const ScriptedPrompts::Asked&) { stray += strayPixels(); };
    const double sleptBefore = Pacing::sleptOnThisThread();
    click (*p.updateAllButton);
    EXPECT_EQ (stray + strayPixels(), 0);

    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"progress", "okCancel", "progress", "message"}));
    EXPECT_EQ (prompts.asked[1].message, continueText + " [Continue/Cancel]");
    EXPECT_EQ (prompts.asked[3].message, successText);
    EXPECT_EQ (prompts.asked[3].title, "");

    // The waits on the panel's side, each with the 2000 ms the link takes to reopen the ports:
    // before the DSP phase, with whole 100-ms steps for the unit's answer to who it is (one when
    // the machine is idle, more when the unit's thread is slow to run); 4000 + 500 ms after
    // "Continue" while the unit restarts, and the unit asked again who it is; 2000 ms after the
    // last box.
    auto expectIdentityWait = [] (double identityWait)
    {
        EXPECT_GE (identityWait, 100.0);
        EXPECT_LE (identityWait, 1000.0);
        EXPECT_NEAR (std::remainder (identityWait, 100.0), 0.0, 1e-6) << identityWait;
    };
    expectIdentityWait (prompts.asked[0].slept - sleptBefore - 2000.0);
    EXPECT_EQ (prompts.asked[1].slept - prompts.asked[0].slept, 0.0);
    expectIdentityWait (prompts.asked[2].slept - prompts.asked[1].slept - (4000.0 + 2000.0 + 500.0));
    EXPECT_EQ (prompts.asked[3].slept - prompts.asked[2].slept, 0.0);
    EXPECT_EQ (Pacing::sleptOnThisThread() - prompts.asked[3].slept, 2000.0 + 2000.0);

    // The bar moves on through each phase: the DSP phase in its lower half, the QEX phase in
    // its upper half. (The bar glides towards each new value, so it lags a little.)
    ASSERT_EQ (prompts.bars.size(), 2u);
    for (size_t phase = 0; phase < 2; ++phase)
    {
        const auto& bar = prompts.bars[phase];
        ASSERT_FALSE (bar.empty());
        EXPECT_TRUE (std::is_sorted (bar.begin(), bar.end())) << "phase " << phase;
        EXPECT_GT (bar.back() - bar.front(), 0.1) << "phase " << phase;
        EXPECT_LE (bar.back(), 0.5 * (double) phase + 0.5) << "phase " << phase;
    }
    EXPECT_GE (prompts.bars[1].back(), 0.6);

    // What a screen reader hears: each phase with the warning, the bar's tenths as it passes
    // them, the result.
    const juce::String warning = Texts::keepConnected;
    const auto& heard = prompts.announced;
    ASSERT_GE (heard.size(), 4) << heard.joinIntoString (" | ");
    EXPECT_EQ (heard[0], "Downloading DSP Firmware. " + warning);
    EXPECT_GE (heard.indexOf ("Downloading QEX Firmware. " + warning), 1) << heard.joinIntoString (" | ");
    EXPECT_EQ (heard[heard.size() - 1], successText);
    int percent = 0, percentsHeard = 0;
    for (const auto& line : heard)
        if (line.endsWith (" percent"))
        {
            EXPECT_GT (line.getIntValue(), percent) << heard.joinIntoString (" | ");
            EXPECT_EQ (line.getIntValue() % 10, 0) << line;
            percent = line.getIntValue();
            ++percentsHeard;
        }
    EXPECT_GE (percentsHeard, 3) << heard.joinIntoString (" | ");

    const auto qex = resourceBytes (BinaryData::qexImage_bin, BinaryData::qexImage_binSize);
    EXPECT_EQ (unit->dspReceived(), resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize));
    auto flash = unit->flash();
    // Every block of the built-in image is in place.
    const auto image = QexImage::builtIn();
    ASSERT_FALSE (image.blocks().empty());
    for (const auto& block : image.blocks())
        EXPECT_TRUE (std::equal (block.data.begin(), block.data.end(), flash.begin() + block.address)) << block.address;

    EXPECT_EQ (p.dspLabel->getText(), updatingText);
    EXPECT_EQ (p.qexLabel->getText(), "downloading QEX firmware done");
    EXPECT_FALSE (p.updateAllButton->isVisible());
    EXPECT_EQ (p.runMode.load(), 0);
    EXPECT_EQ (keepAwake.holds, 2); // one for each phase, none over the box between them
}

struct FullUpdateBranch
{
    const char* name;
    const char* fault;
    std::deque<bool> answers;
    int cancelAtPhase; // 0 none, 1 during DSP, 2 during QEX, 3 as the DSP run ends
    juce::StringArray expectedKinds;
    const char* lastTitle;
    bool qexPhase;
    const char* dspLabel;
    const char* qexLabel;
    const char* reason; // how the lines after the failure box's own begin ("" when none)
    bool toldLoader;    // ... and whether they end telling that the unit is in its loader
};

void PrintTo (const FullUpdateBranch& branch, std::ostream* out)
{
    *out << branch.name;
}

class FullUpdateFailure : public UpdaterPanel, public ::testing::WithParamInterface<FullUpdateBranch>
{
};

TEST_P (FullUpdateFailure, ShowsTheFailureAndNeverASuccess)
{
    const auto& branch = GetParam();
    auto& p = makeUnitAndPanel (branch.fault);
    prompts.answers = branch.answers;

    int progressRuns = 0;
    prompts.onAsk = [&] (const ScriptedPrompts::Asked& a) { progressRuns += a.kind == "progress" ? 1 : 0; };
    if (branch.cancelAtPhase == 1)
        prompts.cancelWhen = [&] { return unit->dspReceived().size() > 10000; };
    if (branch.cancelAtPhase == 2)
        prompts.cancelWhen = [&] { return progressRuns == 2 && unit->dataBlocksReceived() > 20; };
    prompts.cancelAsTheRunEnds = branch.cancelAtPhase == 3;

    click (*p.updateAllButton);

    // What the user saw up to the outcome; a unit that went away is asked for after it.
    auto kinds = prompts.kinds();
    kinds.removeRange (branch.expectedKinds.size(), kinds.size());
    EXPECT_EQ (kinds, branch.expectedKinds);
    const auto& last = prompts.asked[(size_t) branch.expectedKinds.size() - 1];
    if (branch.expectedKinds[branch.expectedKinds.size() - 1] == "message")
    {
        // The box's own text first, then why, what to do, and that nothing is lost.
        EXPECT_TRUE (last.message.startsWith (fullFailedText)) << last.message;
        const auto added = last.message.substring (fullFailedText.length()).trimStart();
        EXPECT_TRUE (added.startsWith (branch.reason)) << last.message;
        EXPECT_EQ (added.endsWith (Texts::leftInLoader), branch.toldLoader) << last.message;
        if (juce::String (branch.reason).isEmpty() && ! branch.toldLoader)
        {
            EXPECT_EQ (last.message, fullFailedText);
        }

        // What "Copy details" hands to support: the versions, the MIDI service and ports, what
        // the unit said, the phase, where it stopped and the last messages, not their bytes.
        const auto& details = last.details;
        // The user's own cancel at the continue box is no failure to report.
        const bool offered = juce::String (branch.name) != "ContinueBoxCancelled";
        EXPECT_EQ (details.isNotEmpty(), offered) << details;
        if (offered)
        {
            EXPECT_TRUE (details.startsWith (BuiltInVersions::windowTitle)) << details;
            EXPECT_TRUE (details.contains ("MIDI: virtual MIDI service")) << details;
            EXPECT_TRUE (details.contains ("MIDI ports seen: \"" + VirtualUnit::Options{}.inputPortName)) << details;
            EXPECT_TRUE (details.contains ("The Zelvor said it was: running its firmware") ||
                         details.contains ("The Zelvor said it was: in its loader"))
                << details;
            EXPECT_TRUE (details.contains (juce::String ("Run: full update, ") + (branch.qexPhase ? "QEX" : "DSP")))
                << details;
            const juce::String phrase (branch.reason);
            EXPECT_TRUE (details.contains ("Stopped: " + phrase.substring (0, 1).toLowerCase() +
                                           phrase.substring (1).upToLastOccurrenceOf (".", false, false)))
                << details;
            const juce::String sentLast (branch.qexPhase ? "data block, " : "DSP end, 18 bytes");
            if (! phrase.contains ("disappeared") && ! juce::String (branch.lastTitle).contains ("Canceled"))
            {
                EXPECT_TRUE (details.fromFirstOccurrenceOf ("Sent last:", false, false).contains (sentLast)) << details;
            }
            if (juce::String (branch.fault) == "dsp-end-err")
            {
                EXPECT_TRUE (details.trimEnd().endsWith ("DSP reply ERR, 10 bytes")) << details;
            }
            EXPECT_FALSE (details.containsIgnoreCase ("F0 ")) << "bytes of a message: " << details;
        }
    }
    else
    {
        EXPECT_EQ (last.message, continueText + " [Continue/Cancel]");
    }
    EXPECT_EQ (last.title, branch.lastTitle);
    for (auto& a : prompts.asked)
        EXPECT_NE (a.message, successText);

    EXPECT_EQ (qexPhaseStarted(), branch.qexPhase);
    EXPECT_EQ (p.dspLabel->getText(), branch.dspLabel);
    EXPECT_EQ (p.qexLabel->getText(), branch.qexLabel);

    // " Update Zelvor" is still there, and trying again means what it says: the link is idle,
    // and a unit that the failure left in its loader is recovered.
    ASSERT_TRUE (p.updateAllButton->isVisible());
    unit->setFault ("none");
    prompts.answers = {true};
    prompts.cancelWhen = nullptr;
    prompts.cancelAsTheRunEnds = false;
    click (*p.updateAllButton);
    EXPECT_EQ (prompts.asked.back().message, successText);
    EXPECT_TRUE (prompts.asked.back().details.isEmpty()) << "a success offers details";
    EXPECT_EQ (unit->dspReceived(), resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize));
    EXPECT_TRUE (unit->mainFirmwareValid());
    EXPECT_FALSE (p.updateAllButton->isVisible());
}

const juce::StringArray failedAfterDsp{"progress", "message"};
const juce::StringArray failedAfterQex{"progress", "okCancel", "progress", "message"};

INSTANTIATE_TEST_SUITE_P (Branches,
                          FullUpdateFailure,
                          ::testing::Values (FullUpdateBranch{"DspFails",
                                                              "dsp-end-err",
                                                              {},
                                                              0,
                                                              failedAfterDsp,
                                                              "Failed",
                                                              false,
                                                              "Downloading DSP firmware Failed",
                                                              "",
                                                              "The Zelvor answered the DSP firmware with \"ERR\".",
                                                              false},
                                             FullUpdateBranch{"DspCancelled",
                                                              "none",
                                                              {},
                                                              1,
                                                              failedAfterDsp,
                                                              "Canceled",
                                                              false,
                                                              "Downloading DSP firmware Canceled",
                                                              "",
                                                              "",
                                                              false},
                                             FullUpdateBranch{"CancelAsTheDspRunEnds",
                                                              "none",
                                                              {},
                                                              3,
                                                              failedAfterDsp,
                                                              "Canceled",
                                                              false,
                                                              "Downloading DSP firmware Canceled",
                                                              "",
                                                              "",
                                                              false},
                                             FullUpdateBranch{"ContinueBoxCancelled",
                                                              "none",
                                                              {false},
                                                              0,
                                                              {"progress", "okCancel", "message"},
                                                              "Canceled",
                                                              false,
                                                              "Downloading DSP firmware Done",
                                                              "downloading QEX firmware canceled",
                                                              "",
                                                              false},
                                             FullUpdateBranch{"QexFails",
                                                              "no-data-ack:3",
                                                              {true},
                                                              0,
                                                              failedAfterQex,
                                                              "",
                                                              true,
                                                              updatingText.toRawUTF8(),
                                                              "downloading QEX firmware failed",
                                                              "The Zelvor stopped answering after 2 of 831 blocks.",
                                                              true},
                                             FullUpdateBranch{"QexCancelled",
                                                              "none",
                                                              {true},
                                                              2,
                                                              failedAfterQex,
                                                              "",
                                                              true,
                                                              updatingText.toRawUTF8(),
                                                              "downloading QEX firmware canceled",
                                                              "",
                                                              true},
                                             FullUpdateBranch{"UnitGoneDuringQex",
                                                              "unplug-after:3800",
                                                              {true},
                                                              0,
                                                              failedAfterQex,
                                                              "",
                                                              true,
                                                              updatingText.toRawUTF8(),
                                                              "downloading QEX firmware failed",
                                                              "The Zelvor disappeared from the computer after ",
                                                              true}),
                          [] (const auto& param) { return std::string (param.param.name); });

// Each fault that ends a full update in failure: the window's box and the headless driver's
// result line tell the same reason, each from its own run, and the box's is there at all.
class FailureReasonAlike : public UpdaterPanel, public ::testing::WithParamInterface<const char*>
{
};

TEST_P (FailureReasonAlike, TheBoxAndTheDriverTellTheSameReason)
{
    const juce::String fault = GetParam();
    makeUnitAndPanel (fault);
    prompts.answers = {true, true};
    click (*panel->updateAllButton);
    juce::String added;
    for (const auto& a : prompts.asked)
        if (a.kind == "message" && a.message.startsWith (fullFailedText))
        {
            added = a.message.substring (fullFailedText.length()).trimStart();
            break;
        }
    panel = nullptr;
    unit = nullptr;

    VirtualUnit headlessUnit (service);
    headlessUnit.setFault (fault);
    keepAwake.held = true; // the driver holds nothing: this fixture's sleep check is the window's
    const auto result = runHeadlessUpdate ({}, headlessUnit);
    keepAwake.held = false;
    ASSERT_EQ (result.outcome, HeadlessResult::Outcome::failure) << result.reason;
    const auto phrase = result.reason.fromFirstOccurrenceOf ("failed: ", false, false);
    ASSERT_TRUE (phrase.startsWith ("the Zelvor") || phrase.startsWith ("another")) << result.reason;
    // The counts are each run's own (a late answer lands a block earlier or later on a busy
    // machine): the words must be the same, the figures only of the same form.
    auto withoutFigures = [] (juce::String text)
    {
        for (juce::juce_wchar digit = '0'; digit <= '9'; ++digit)
            text = text.replaceCharacter (digit, '#');
        return text;
    };
    const auto sentence = phrase.substring (0, 1).toUpperCase() + phrase.substring (1) + ".";
    EXPECT_TRUE (withoutFigures (added).startsWith (withoutFigures (sentence)))
        << "box: " << added << "\ndriver: " << result.reason;
}

INSTANTIATE_TEST_SUITE_P (Faults,
                          FailureReasonAlike,
                          ::testing::Values ("no-loader-ack",
                                             "no-loader-identity-reply",
                                             "no-map-reply",
                                             "no-begin-write-ack",
                                             "wrong-map-reply",
                                             "no-data-ack:40",
                                             "late-data-ack:5",
                                             "refuse-data-block:3",
                                             "dsp-end-err",
                                             "dsp-end-checksum-failed",
                                             "no-dsp-ack",
                                             "unplug-after:300",
                                             "power-cut-after:3800",
                                             "slow-loader-restart",
                                             "loader-never-back"),
                          [] (const auto& param)
                          {
                              auto name = juce::String (param.param).replaceCharacters ("-:", "__");
                              return name.toStdString();
                          });

// A unit that an update cut short left in its loader: the full update asks who it is and writes
// QEX first, asks for the power cycle with a box that says so, then writes DSP, the bar filling
// once; a single DSP run is refused before any of the image is sent, also when the unit's first
// answer is lost (it is asked again).
TEST_F (UpdaterPanel, AUnitLeftInItsLoaderGetsQexFirstAndNoDspOnItsOwn)
{
    auto& p = makeLoaderUnitAndPanel ("no-identity-reply");

    TempImageFile dsp (resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize), ".syx");
    prompts.files = {dsp.file()};
    click (*p.openDspFileButton);
    ASSERT_TRUE (p.updateDspButton->isEnabled());
    prompts.asked.clear();
    click (*p.updateDspButton);
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"message"}));
    EXPECT_EQ (prompts.asked[0].icon, Prompts::Icon::warning);
    EXPECT_TRUE (prompts.asked[0].message.contains ("Update Zelvor")) << prompts.asked[0].message;
    EXPECT_TRUE (unit->dspReceived().empty());

    prompts.asked.clear();
    prompts.answers = {true};
    click (*p.updateAllButton);
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"progress", "okCancel", "progress", "message"}));
    EXPECT_EQ (prompts.asked[1].message, qexFirstContinueText + " [Continue/Cancel]");
    EXPECT_EQ (prompts.asked[3].message, successText);
    EXPECT_EQ (unit->countReceived (0x71), 0) << "a loader was sent into its loader";

    ASSERT_EQ (prompts.bars.size(), 2u);
    for (size_t phase = 0; phase < 2; ++phase)
    {
        const auto& bar = prompts.bars[phase];
        ASSERT_FALSE (bar.empty());
        EXPECT_TRUE (std::is_sorted (bar.begin(), bar.end())) << "phase " << phase;
        EXPECT_LE (bar.back(), 0.5 * (double) phase + 0.5) << "phase " << phase;
    }
    EXPECT_GE (prompts.bars[1].back(), 0.6);

    EXPECT_EQ (unit->dspReceived(), resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize));
    EXPECT_TRUE (unit->mainFirmwareValid());
    EXPECT_FALSE (unit->isInLoader());
    EXPECT_EQ (p.qexLabel->getText(), "downloading QEX firmware done");
    EXPECT_EQ (p.dspLabel->getText(), Texts::dspLabelStart + juce::String ("Done"));
    EXPECT_FALSE (p.updateAllButton->isVisible());
}

// The run before switched the unit into its loader and then failed, as the loader never said who
// it is. A second click is no reason to replay the DSP image into that loader for minutes: the
// unit is taken for what it last was, its QEX firmware goes first and fails at once.
TEST_F (UpdaterPanel, AnUnansweredQuestionIsNoReasonToSendDspToALoader)
{
    auto& p = makeUnitAndPanel ("no-loader-identity-reply");
    prompts.answers = {true};
    click (*p.updateAllButton);
    ASSERT_EQ (prompts.kinds(), failedAfterQex);
    ASSERT_TRUE (unit->isInLoader());

    const int sentBefore = unit->messagesReceived();
    prompts.asked.clear();
    click (*p.updateAllButton);
    EXPECT_EQ (prompts.kinds(), juce::StringArray ({"progress", "message"}));
    EXPECT_TRUE (prompts.asked.back().message.startsWith (fullFailedText +
                                                          "\nThe Zelvor stopped answering when asked who it is."));
    EXPECT_LT (unit->messagesReceived() - sentBefore, 10);
}

TEST_F (UpdaterPanel, SingleRunsFollowTheFileChosen)
{
    auto& p = makeUnitAndPanel();
    EXPECT_TRUE (p.openQexFileButton->isEnabled());
    EXPECT_FALSE (p.updateQexButton->isEnabled());
    EXPECT_FALSE (p.updateDspButton->isEnabled());

    // Cancelling the chooser changes nothing; a file that does not parse keeps the run disabled.
    click (*p.openQexFileButton);
    EXPECT_EQ (prompts.lastFilePatterns, "*.bin");
    EXPECT_FALSE (p.updateQexButton->isEnabled());
    TempImageFile broken (Bytes{0x12, 0x34, 0x56});
    prompts.files = {broken.file()};
    click (*p.openQexFileButton);
    EXPECT_FALSE (p.updateQexButton->isEnabled());
    EXPECT_EQ (prompts.asked.back().icon, Prompts::Icon::warning);
    EXPECT_TRUE (prompts.asked.back().message.startsWith (Texts::fileRefused));
    EXPECT_GT (prompts.asked.back().message.length(), 32) << "no reason given";

    auto image = resourceBytes (BinaryData::qexImage_bin, BinaryData::qexImage_binSize);
    const auto firstAddress = (std::uint32_t) (image[4] << 24 | image[5] << 16 | image[6] << 8 | image[7]);
    image[12] = 0x5A; // the first data byte of the first block
    TempImageFile good (image);
    prompts.files = {good.file()};
    click (*p.openQexFileButton);
    ASSERT_TRUE (p.updateQexButton->isEnabled());

    prompts.asked.clear();
    click (*p.updateQexButton);
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"progress", "message"}));
    EXPECT_EQ (prompts.asked.back().message, successText);
    // After the box, 2000 ms for the unit to restart, then the ports are reopened.
    EXPECT_EQ (Pacing::sleptOnThisThread() - prompts.asked.back().slept, 2000.0 + 2000.0);
    EXPECT_EQ (p.qexLabel->getText(), "downloading QEX firmware done");
    EXPECT_EQ (unit->flash()[firstAddress], 0x5A);
    // A completed run uses the file up; the full update still works from the built-in images.
    EXPECT_FALSE (p.updateQexButton->isEnabled());
    EXPECT_TRUE (p.updateAllButton->isEnabled());

    click (*p.openDspFileButton);
    EXPECT_EQ (prompts.lastFilePatterns, "dspflash*.syx");

    // Not power cycled, the unit still runs its loader: the DSP image waits, and the box says
    // why (the QEX firmware was just written), once; after that the unit waits for its QEX.
    TempImageFile dsp (resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize), ".syx");
    prompts.files = {dsp.file(), dsp.file()};
    for (const auto* expected : {Texts::dspNeedsPowerCycle, Texts::dspNeedsQex})
    {
        click (*p.openDspFileButton);
        prompts.asked.clear();
        click (*p.updateDspButton);
        ASSERT_EQ (prompts.kinds(), juce::StringArray ({"message"}));
        EXPECT_EQ (prompts.asked[0].message, expected);
    }
    EXPECT_TRUE (unit->dspReceived().empty());
}

TEST_F (UpdaterPanel, SingleDspRunCancelledOrRefusedIsNeverASuccess)
{
    auto& p = makeUnitAndPanel();

    // With no DSP image the link refuses to start: that is a failure, not a completed run.
    click (*p.updateDspButton);
    EXPECT_EQ (prompts.asked.back().message, resultText ("failed"));
    EXPECT_EQ (p.dspLabel->getText(), "downloading DSP firmware failed");

    TempImageFile dsp (resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize), ".syx");
    prompts.files = {dsp.file()};
    click (*p.openDspFileButton);
    prompts.cancelWhen = [&] { return unit->dspReceived().size() > 10000; };
    click (*p.updateDspButton);
    EXPECT_EQ (prompts.asked.back().message, resultText ("canceled"));
    EXPECT_EQ (p.dspLabel->getText(), "downloading DSP firmware canceled");
    EXPECT_EQ (p.runResult.load(), -10);
    EXPECT_LT (unit->dspReceived().size(), (size_t) BinaryData::dspImage_syxSize);
    EXPECT_FALSE (unit->dspEndAcknowledged());
}

TEST_F (UpdaterPanel, ViewKeysAndLayout)
{
    auto& p = makeUnitAndPanel();
    auto press = [&p] (int key, juce::ModifierKeys mods) { return p.keyPressed (juce::KeyPress (key, mods, 0), &p); };
    auto fileView = [&p]
    {
        return p.openQexFileButton->isVisible() && p.updateQexButton->isVisible() && p.openDspFileButton->isVisible() &&
               p.updateDspButton->isVisible() && ! p.updateAllButton->isVisible();
    };

    // It opens on the one-button view, with none of the file view's buttons.
    for (auto* button :
         {p.openQexFileButton.get(), p.updateQexButton.get(), p.openDspFileButton.get(), p.updateDspButton.get()})
        EXPECT_FALSE (button->isVisible()) << button->getButtonText();
    EXPECT_TRUE (p.updateAllButton->isVisible());
    EXPECT_FALSE (press (juce::KeyPress::pageUpKey, {}));
    EXPECT_FALSE (fileView());
    EXPECT_TRUE (press (juce::KeyPress::pageUpKey, juce::ModifierKeys::shiftModifier));
    EXPECT_TRUE (
        press (juce::KeyPress::pageUpKey, juce::ModifierKeys::shiftModifier | juce::ModifierKeys::ctrlModifier));
    EXPECT_TRUE (fileView());
    EXPECT_FALSE (press ('q', juce::ModifierKeys::commandModifier));
    EXPECT_TRUE (press (juce::KeyPress::pageDownKey, juce::ModifierKeys::shiftModifier));
    EXPECT_FALSE (fileView());
    EXPECT_TRUE (p.updateAllButton->isVisible());

    EXPECT_EQ (p.openQexFileButton->getBounds(), juce::Rectangle<int> (100, 90, 100, 30));
    EXPECT_EQ (p.updateQexButton->getBounds(), juce::Rectangle<int> (200, 90, 100, 30));
    EXPECT_EQ (p.openDspFileButton->getBounds(), juce::Rectangle<int> (100, 140, 100, 30));
    EXPECT_EQ (p.updateDspButton->getBounds(), juce::Rectangle<int> (200, 140, 100, 30));
    EXPECT_EQ (p.updateAllButton->getBounds(), juce::Rectangle<int> (150, 100, 100, 30));

    p.setSize (301, 200);
    EXPECT_EQ (p.openQexFileButton->getX(), 50);
    EXPECT_EQ (p.updateQexButton->getX(), 150);
    EXPECT_EQ (p.updateAllButton->getX(), 100);
    p.setSize (150, 120);
    EXPECT_EQ (p.openQexFileButton->getX(), -25);
    EXPECT_EQ (p.openDspFileButton->getY(), 100);
}

TEST_F (UpdaterPanel, WaitsForTheUnitThenForFreePorts)
{
    // Absent at first: the connect box comes back until the unit is plugged in.
    int connectBoxes = 0;
    prompts.answers = {true, true, true};
    prompts.onAsk = [&] (const ScriptedPrompts::Asked& a)
    {
        if (a.message.startsWith (Texts::notDetected) && ++connectBoxes == 2)
        {
            unit = std::make_unique<VirtualUnit> (service);
            unit->setFault ("ports-held");
        }
        if (a.message.startsWith (Texts::portsBusy))
            unit->setFault ("none");
    };
    auto& p = makePanel();
    EXPECT_EQ (connectBoxes, 2);
    EXPECT_EQ (prompts.asked.back().message,
               juce::String (Texts::portsBusy) + " [" + Texts::tryAgain + "/" + Texts::exit + "]");
    EXPECT_EQ (prompts.asked.back().icon, Prompts::Icon::warning);
    ASSERT_NE (p.manager, nullptr);
    EXPECT_NE (p.manager->midiIn, nullptr);
    EXPECT_NE (p.manager->midiOut, nullptr);
    EXPECT_EQ (prompts.quits.load(), 0);

    // Unplugged afterwards: every button goes dead and the panel says why.
    unit->unplug();
    p.updateButtonStates();
    for (auto* button : {p.openQexFileButton.get(),
                         p.updateQexButton.get(),
                         p.openDspFileButton.get(),
                         p.updateDspButton.get(),
                         p.updateAllButton.get()})
        EXPECT_FALSE (button->isEnabled());
    p.createComponentSnapshot (p.getLocalBounds());
    EXPECT_EQ (p.statusLabel->getText(), Texts::unitMissingStatus);
    EXPECT_EQ (p.statusLabel->findColour (juce::Label::textColourId), juce::Colour (0xFF0000FF));
    // Back again: nothing says it is missing.
    unit->plugIn();
    EXPECT_EQ (strayPixels(), 0);
}

// Two units: nothing tells them apart, so none is chosen. The panel asks for only one before it
// comes up and before a run; one that joins while the user power-cycles the first stops the run
// before a byte of its second phase, with a box that says why.
TEST_F (UpdaterPanel, TwoUnitsAreNeverToldApartSoOnlyOneMayBeConnected)
{
    const juce::String severalBox =
        juce::String (Texts::severalUnits) + " [" + Texts::tryAgain + "/" + Texts::exit + "]";
    VirtualUnit::Options secondOptions;
    secondOptions.startInLoader = true;
    VirtualUnit second (service, secondOptions);
    prompts.answers = {true, true, true};
    prompts.onAsk = [&] (const ScriptedPrompts::Asked& a)
    {
        if (a.message == severalBox)
            second.unplug();
        if (a.message.startsWith (Texts::dspWrittenContinue))
            second.plugIn();
    };

    auto& p = makeUnitAndPanel();
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"okCancel"}));
    EXPECT_EQ (prompts.asked[0].message, severalBox);
    ASSERT_NE (p.manager->midiOut, nullptr);

    second.plugIn();
    click (*p.updateAllButton);
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"okCancel", "okCancel", "progress", "okCancel", "message"}));
    EXPECT_EQ (prompts.asked[1].message, severalBox);
    EXPECT_EQ (prompts.asked.back().message, fullFailedText + "\n" + Texts::anotherUnitJoined);
    EXPECT_TRUE (p.updateAllButton->isVisible());

    EXPECT_EQ (qexMessagesSent.load(), 0);
    EXPECT_FALSE (unit->isInLoader());
    EXPECT_EQ (second.messagesReceived(), second.countReceived (Sysex::identityRequest.bytes[5])); // who it is, no more
    EXPECT_EQ (second.dataBlocksReceived(), 0);
    EXPECT_TRUE (second.dspReceived().empty());
}

// The buttons follow the unit by themselves, also after a run that lost it ended with all of
// them disabled.
TEST_F (UpdaterPanel, ButtonsFollowTheUnitAfterARunThatLostIt)
{
    auto& p = makeUnitAndPanel ("unplug-after:500");
    click (*p.updateAllButton);
    EXPECT_EQ (prompts.asked.back().title, "Failed");
    ASSERT_FALSE (p.openQexFileButton->isEnabled());

    unit->plugIn();
    EXPECT_TRUE (dispatchUntil (
        [&p] {
            return p.openQexFileButton->isEnabled() && p.openDspFileButton->isEnabled() &&
                   p.updateAllButton->isEnabled();
        }));
    unit->unplug();
    EXPECT_TRUE (
        dispatchUntil ([&p] { return ! p.openQexFileButton->isEnabled() && ! p.updateAllButton->isEnabled(); }));
}

// A refused file, for either firmware, leaves nothing of the file chosen before to be written,
// even by a click on its update button.
TEST_F (UpdaterPanel, ARefusedFileLeavesNothingOfTheEarlierOneToWrite)
{
    auto& p = makeUnitAndPanel();
    TempImageFile qex (resourceBytes (BinaryData::qexImage_bin, BinaryData::qexImage_binSize));
    TempImageFile dsp (resourceBytes (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize), ".syx");
    TempImageFile notDsp (Bytes{0x12, 0x34}, ".syx");
    const auto directory = qex.file().getParentDirectory();

    struct Case
    {
        juce::TextButton& open;
        juce::TextButton& update;
        juce::File good, refused;
    };
    for (const auto& c : {Case{*p.openQexFileButton, *p.updateQexButton, qex.file(), directory},
                          Case{*p.openDspFileButton, *p.updateDspButton, dsp.file(), notDsp.file()}})
    {
        prompts.files = {c.good, c.refused};
        click (c.open);
        ASSERT_TRUE (c.update.isEnabled());
        click (c.open);
        EXPECT_TRUE (prompts.asked.back().message.startsWith (Texts::fileRefused));
        EXPECT_FALSE (c.update.isEnabled());
        click (c.update);
        EXPECT_EQ (prompts.asked.back().message, resultText ("failed"));
    }
    EXPECT_EQ (qexMessagesSent.load(), 0);
    EXPECT_TRUE (unit->dspReceived().empty());
    EXPECT_EQ (unit->messagesReceived(), 0);
}

// Each box says what the link sees: a unit unplugged while its ports were held is asked for,
// and ports held between the two phases are not taken for a unit switched off.
TEST_F (UpdaterPanel, EachBoxMatchesWhatTheLinkSees)
{
    unit = std::make_unique<VirtualUnit> (service);
    unit->setFault ("ports-held");
    prompts.answers = {true, true};
    prompts.onAsk = [&] (const ScriptedPrompts::Asked& a)
    {
        if (a.message.startsWith (Texts::portsBusy))
            unit->unplug();
        if (a.message.startsWith (Texts::notDetected))
        {
            unit->setFault ("none");
            unit->plugIn();
        }
    };
    auto& p = makePanel();
    ASSERT_EQ (prompts.kinds(), juce::StringArray ({"okCancel", "okCancel"}));
    EXPECT_TRUE (prompts.asked[1].message.startsWith (Texts::notDetected));
    ASSERT_NE (p.manager->midiOut, nullptr);

    // After the power-cycle another program takes the ports; freed, the update goes on.
    prompts.asked.clear();
    prompts.answers = {true, true};
    prompts.onAsk = [&] (const ScriptedPrompts::Asked& a)
    {
        if (a.message.startsWith (continueText))
            unit->setFault ("ports-held");
        if (a.message.startsWith (Texts::portsBusy))
            unit->setFault ("none");
    };
    click (*p.updateAllButton);
    EXPECT_EQ (prompts.kinds(), juce::StringArray ({"progress", "okCancel", "okCancel", "progress", "message"}));
    EXPECT_EQ (prompts.asked[2].message,
               juce::String (Texts::portsBusy) + " [" + Texts::tryAgain + "/" + Texts::exit + "]");
    EXPECT_EQ (prompts.asked.back().message, successText);
}

TEST_F (UpdaterPanel, ExitInAStartUpBoxQuitsWithoutTheNextBox)
{
    for (const bool absent : {true, false})
    {
        SCOPED_TRACE (absent ? "unit absent" : "ports held");
        prompts.asked.clear();
        prompts.quits = 0;
        prompts.answers = {false};
        if (! absent)
            unit = std::make_unique<VirtualUnit> (service);
        if (unit != nullptr)
            unit->setFault ("ports-held");

        auto& p = makePanel();
        EXPECT_EQ (prompts.asked.size(), 1u);
        EXPECT_EQ (prompts.quits.load(), 1);
        EXPECT_EQ (p.manager == nullptr, absent);
        // Still safe to lay out, paint, click and destroy.
        p.setSize (300, 150);
        p.createComponentSnapshot (p.getLocalBounds());
        p.buttonClicked (p.updateAllButton.get());
        EXPECT_EQ (prompts.asked.size(), 1u);
        panel = nullptr;
    }
}
} // namespace
