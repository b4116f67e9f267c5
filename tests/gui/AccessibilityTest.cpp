// What a screen reader finds in the updater's windows, read through JUCE's accessibility handlers
// (JUCE builds them on Linux too, though nothing there reads them), and two updates driven as
// such a user drives them: the keyboard to start, the handlers' own actions in the boxes.

#include "app/ContentComp.h"
#include "app/ZelvorWindow.h"
#include "link/Pacing.h"
#include "sim/VirtualMidiService.h"
#include "sim/VirtualUnit.h"
#include "update/FirmwareUpdater.h"
#include "update/KeepAwake.h"
#include "update/Prompts.h"
#include "update/Texts.h"

#include <gtest/gtest.h>

namespace zelvor
{
namespace
{
    struct NoKeepAwake : KeepAwake::Service
    {
        void hold (const char*) override
        {
        }
        void release() override
        {
        }
    };

    struct ListeningPrompts : JucePrompts
    {
        void announce (const juce::String& text) override
        {
            heard.add (text);
            JucePrompts::announce (text);
        }
        juce::StringArray heard;
    };

    // The handlers a screen reader would offer under this one: roles and titles, depth first.
    void walk (juce::AccessibilityHandler& handler, juce::StringArray& found)
    {
        for (auto* child : handler.getChildren())
        {
            if (child->isIgnored() || ! child->getComponent().isShowing())
                continue;
            const auto role = child->getRole();
            juce::String entry;
            if (role == juce::AccessibilityRole::button)
                entry = "button";
            else if (role == juce::AccessibilityRole::progressBar)
                entry = "progress bar";
            else if (role == juce::AccessibilityRole::label || role == juce::AccessibilityRole::staticText)
                entry = "text";
            if (entry == "text")
                found.add (entry); // the box's message, which the description carries too
            else if (entry.isNotEmpty())
                found.add (entry + " " + child->getTitle().quoted());
            walk (*child, found);
        }
    }

    juce::AccessibilityHandler* childTitled (juce::AccessibilityHandler& handler, const juce::String& title)
    {
        for (auto* child : handler.getChildren())
        {
            if (child->getTitle() == title)
                return child;
            if (auto* found = childTitled (*child, title))
                return found;
        }
        return nullptr;
    }

    // A person who hears each window as it comes up and answers boxes through their handlers.
    struct ScreenReaderUser : juce::Timer
    {
        struct Seen
        {
            juce::String title, description;
            juce::StringArray inside;
            juce::String barValue;
        };
        std::vector<Seen> seen;
        juce::String copied;
        int progressReadings = 0, readingsWithoutWarning = 0;
        VirtualUnit* unit = nullptr;
        juce::Component::SafePointer<juce::Component> last;
        bool copyPressed = false;

        void timerCallback() override
        {
            auto* modal = juce::Component::getCurrentlyModalComponent();
            auto* handler = modal != nullptr ? modal->getAccessibilityHandler() : nullptr;
            if (handler == nullptr || handler->getRole() != juce::AccessibilityRole::dialogWindow)
                return;

            const bool progress = handler->getTitle() == Texts::progressTitle;
            if (progress)
            {
                // Whenever it is read, the progress window warns not to unplug the unit.
                ++progressReadings;
                if (! handler->getDescription().startsWith (Texts::progressTitle + juce::String (". ") +
                                                            Texts::keepConnected))
                    ++readingsWithoutWarning;
            }
            if (modal == last.getComponent())
                return;

            Seen s;
            s.title = handler->getTitle();
            s.description = handler->getDescription();
            walk (*handler, s.inside);
            if (progress)
            {
                if (auto* bar = childTitled (*handler, Texts::progressBarName))
                    if (auto* value = bar->getValueInterface())
                        s.barValue = value->getCurrentValueAsString();
                seen.push_back (s);
                last = modal;
                return;
            }

            // A button's press action clicks it from the event loop: the details are read on
            // the next look, and then the box is answered.
            if (auto* copy = childTitled (*handler, Texts::copyDetails); copy != nullptr && ! copyPressed)
            {
                copyPressed = true;
                copy->getActions().invoke (juce::AccessibilityActionType::press);
                return;
            }
            if (copyPressed)
                copied = juce::SystemClipboard::getTextFromClipboard();
            copyPressed = false;

            seen.push_back (s);
            last = modal;
            if (s.description.startsWith ("DSP firmware has been updated successfully"))
                unit->powerCycle();
            for (const auto* answer : {Texts::okButton, Texts::continueButton})
                if (auto* button = childTitled (*handler, answer))
                {
                    button->getActions().invoke (juce::AccessibilityActionType::press);
                    return;
                }
        }
    };
} // namespace

TEST (Accessibility, EveryWindowAndBoxIsNamedAndAnUpdateNeedsNoMouse)
{
    VirtualMidiService service;
    MidiPortService::install (&service);
    Pacing::setSpeed (50.0);
    VirtualUnit unit (service);
    unit.setFault ("dsp-end-err");
    ListeningPrompts prompts;
    Prompts::install (&prompts);
    NoKeepAwake awake;
    KeepAwake::install (&awake);

    auto window = std::make_unique<ZelvorWindow>();
    // The panel comes from the event loop, once the window is up.
    auto* content = dynamic_cast<ContentComp*> (window->getContentComponent());
    ASSERT_NE (content, nullptr);
    for (int i = 0; i < 500 && content->currentPanel == nullptr; ++i)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    auto* panel = dynamic_cast<FirmwareUpdater*> (content->currentPanel);
    ASSERT_NE (panel, nullptr);
    auto* windowHandler = window->getAccessibilityHandler();
    ASSERT_NE (windowHandler, nullptr) << "JUCE built no accessibility handler here";
    EXPECT_EQ (windowHandler->getRole(), juce::AccessibilityRole::window);
    EXPECT_EQ (windowHandler->getTitle(), ZelvorWindow::windowTitle());
    juce::StringArray mainWindow;
    walk (*windowHandler, mainWindow);
    // The hidden file view's buttons and the labels that have no place are not offered.
    EXPECT_EQ (mainWindow, juce::StringArray ({"button \"Update Zelvor\""}));

    // Tab reaches the one button, Return or Space presses it: the whole update from the keyboard.
    panel->grabKeyboardFocus();
    auto* peer = window->getPeer();
    ASSERT_NE (peer, nullptr);
    peer->handleKeyPress (juce::KeyPress (juce::KeyPress::tabKey));
    EXPECT_EQ (juce::Component::getCurrentlyFocusedComponent(), panel->updateAllButton.get());

    ScreenReaderUser user;
    user.unit = &unit;
    user.startTimer (20);
    // The button clicks from the event loop; the run inside that click ends with its last box.
    auto pressAndWaitFor = [&] (int key, size_t windowsSeen)
    {
        peer->handleKeyPress (juce::KeyPress (key));
        const auto end = juce::Time::getMillisecondCounter() + 120000;
        while (juce::Time::getMillisecondCounter() < end &&
               (user.seen.size() < windowsSeen || panel->runMode.load() != FirmwareUpdater::runNone ||
                juce::Component::getCurrentlyModalComponent() != nullptr))
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    };
    pressAndWaitFor (juce::KeyPress::returnKey, 2); // the unit refuses the DSP image
    unit.setFault ("none");
    EXPECT_TRUE (panel->updateAllButton->hasKeyboardFocus (false));
    pressAndWaitFor (juce::KeyPress::spaceKey, 6); // Space as well: now the whole update
    user.stopTimer();

    const juce::String warning = Texts::keepConnected;
    ASSERT_EQ (user.seen.size(), 6u);
    EXPECT_GT (user.progressReadings, 10);
    EXPECT_EQ (user.readingsWithoutWarning, 0);

    const auto& progress = user.seen[0];
    EXPECT_EQ (progress.title, "Firmware Updater");
    EXPECT_EQ (progress.description,
               "Firmware Updater. " + warning + "\nDownloading DSP Firmware ... \n" + Texts::timeLeftUnknown);
    EXPECT_EQ (progress.inside.joinIntoString (", "), "button \"Cancel\", text, progress bar \"Progress\"");
    EXPECT_TRUE (progress.barValue.isNotEmpty());

    const auto& failure = user.seen[1];
    EXPECT_EQ (failure.title, "Failed");
    EXPECT_TRUE (failure.description.startsWith (Texts::fullUpdateFailed)) << failure.description;
    // Read after "Copy details" was pressed, which then says so.
    EXPECT_EQ (failure.inside.joinIntoString (", "), "button \"Ok\", button \"Copied\", text");
    EXPECT_TRUE (user.copied.startsWith (ZelvorWindow::windowTitle())) << user.copied;
    EXPECT_TRUE (user.copied.contains ("DSP reply ERR")) << user.copied;

    EXPECT_EQ (user.seen[2].title, "Firmware Updater");
    EXPECT_EQ (user.seen[3].title, Texts::programName);
    EXPECT_TRUE (user.seen[3].description.startsWith ("DSP firmware has been updated successfully"));
    EXPECT_EQ (user.seen[3].inside.joinIntoString (", "), "button \"Continue\", button \"Cancel\", text");
    EXPECT_EQ (user.seen[4].description,
               "Firmware Updater. " + warning + "\nDownloading QEX Firmware ... \n" + Texts::timeLeftUnknown);
    EXPECT_EQ (user.seen[5].title, Texts::programName);
    EXPECT_TRUE (user.seen[5].description.startsWith ("Firmware has been updated successfully"));
    EXPECT_EQ (user.seen[5].inside.joinIntoString (", "), "button \"Ok\", text");

    // The result box came up and was answered after the QEX phase: the unit took both images.
    EXPECT_TRUE (unit.mainFirmwareValid());
    EXPECT_FALSE (panel->updateAllButton->isVisible());

    // Heard without looking: each phase with the warning, the bar's tenths, each result.
    EXPECT_EQ (prompts.heard[0], "Downloading DSP Firmware. " + warning);
    EXPECT_TRUE (prompts.heard.contains (failure.description)) << prompts.heard.joinIntoString (" | ");
    EXPECT_TRUE (prompts.heard.contains ("Downloading QEX Firmware. " + warning));
    int percent = 0, percentsHeard = 0;
    for (const auto& line : prompts.heard)
        if (line.endsWith (" percent"))
        {
            // Up within a run; the second run starts from the bottom again.
            if (line.getIntValue() <= percent)
            {
                EXPECT_EQ (line.getIntValue(), 10) << prompts.heard.joinIntoString (" | ");
            }
            percent = line.getIntValue();
            ++percentsHeard;
        }
    EXPECT_GE (percentsHeard, 6) << prompts.heard.joinIntoString (" | ");
    EXPECT_TRUE (prompts.heard[prompts.heard.size() - 1].startsWith ("Firmware has been updated successfully"));

    window = nullptr;
    KeepAwake::install (nullptr);
    Prompts::install (nullptr);
    MidiPortService::install (nullptr);
    Pacing::setSpeed (1.0);
}
} // namespace zelvor
