#include "demo/DemoApplication.h"

#include "app/ZelvorWindow.h"
#include "link/Pacing.h"
#include "sim/CommandLine.h"
#include "update/FirmwareUpdater.h"

#include <iostream>

namespace zelvor
{
std::optional<int> DemoApplication::parseOptions (const juce::StringArray& args, Options& options)
{
    CommandLine::Options parser ("ZelvorUpdaterDemo");
    parser.speed (options.speed);
    parser.fault (options.fault);
    parser.flag ("--unplugged", options.unplugged, "start with the unit unplugged");
    parser.flag ("--ports-held", options.portsHeld, "start with the unit's ports held by another program");
    parser.unitOutputs (options.logFile, options.flashFile, options.dspReceivedFile, "when the demo quits");
    parser.secondUnit (
        options.secondUnit, options.secondFlashFile, options.secondDspReceivedFile, "when the demo quits");
    juce::String midi{"virtual"};
    parser.choice (
        "--midi", midi, {"virtual", "system"}, "the virtual unit, or the machine's MIDI ports (a unit on USB)");
    parser.flag (
        "--layout", options.layout, "tell where the buttons of both windows are (no display needed), and quit");
    if (const auto status = parser.parse (args))
        return status;
    options.systemMidi = midi == "system";

    const juce::File none;
    if (options.systemMidi &&
        (options.fault != "none" || options.unplugged || options.portsHeld || options.logFile != none ||
         options.flashFile != none || options.dspReceivedFile != none || options.secondUnit != "none" ||
         options.secondFlashFile != none || options.secondDspReceivedFile != none))
        return parser.refuse ("--fault, --unplugged, --ports-held, --log, --flash, --dsp-received and the --second-* "
                              "options need the virtual unit (--midi virtual)");
    return std::nullopt;
}

namespace
{
    void tell (const juce::String& line)
    {
        // One line each, newlines shown as \n, so that a script can match whole texts.
        std::cout << line.replace ("\n", "\\n") << std::endl;
    }

    juce::String describe (Prompts::Icon icon, const juce::String& title, const juce::String& message)
    {
        return juce::String (icon == Prompts::Icon::warning ? "warning" : "info") + " [" + title + "] " + message;
    }
} // namespace

void DemoApplication::TracingPrompts::showMessage (Icon icon,
                                                   const juce::String& title,
                                                   const juce::String& message,
                                                   const juce::String& details)
{
    tell ("box: " + describe (icon, title, message) + (details.isEmpty() ? "" : " [Copy details]"));
    JucePrompts::showMessage (icon, title, message, details);
}

bool DemoApplication::TracingPrompts::askOkCancel (Icon icon,
                                                   const juce::String& title,
                                                   const juce::String& message,
                                                   const juce::String& firstButton,
                                                   const juce::String& secondButton)
{
    tell ("box: " + describe (icon, title, message) + " [" + firstButton + "/" + secondButton + "]");
    return JucePrompts::askOkCancel (icon, title, message, firstButton, secondButton);
}

void DemoApplication::TracingPrompts::announce (const juce::String& text)
{
    tell ("announce: " + text);
    JucePrompts::announce (text);
}

void DemoApplication::TracingPrompts::detailsCopied()
{
    tell ("details copied");
}

void DemoApplication::TracingPrompts::boxAnswered (const juce::String& buttonText)
{
    // The text of the button that was pressed, as the box showed it.
    tell ("answer: " + (buttonText.isEmpty() ? juce::String ("none") : buttonText));
}

juce::File DemoApplication::TracingPrompts::chooseFileToOpen (const juce::String& title,
                                                              const juce::File& startDirectory,
                                                              const juce::String& patterns)
{
    tell ("file chooser: " + title + " " + patterns);
    auto file = JucePrompts::chooseFileToOpen (title, startDirectory, patterns);
    tell ("answer: " + file.getFullPathName());
    return file;
}

bool DemoApplication::TracingPrompts::runWithProgressWindow (juce::ThreadWithProgressWindow& window)
{
    tell ("progress: open");
    const bool endedByItself = JucePrompts::runWithProgressWindow (window);
    tell (endedByItself ? "progress: ended" : "progress: cancelled");
    return endedByItself;
}

void DemoApplication::TracingPrompts::requestQuit()
{
    tell ("quit requested");
    JucePrompts::requestQuit();
}

void DemoApplication::tellLayout()
{
    const auto main = FirmwareUpdater::layoutFor (ZelvorWindow::width, ZelvorWindow::height);
    const auto unit = VirtualUnitWindow::buttonBounds();
    const std::pair<const char*, juce::Rectangle<int>> buttons[] = {
        {"update-all", main.updateAll},
        {"open-qex", main.openQexFile},
        {"update-qex", main.updateQexFile},
        {"open-dsp", main.openDspFile},
        {"update-dsp", main.updateDspFile},
        {"unit-plug", unit[0]},
        {"unit-power", unit[1]},
        {"unit-hold", unit[2]},
    };
    for (const auto& [name, bounds] : buttons)
        tell ("layout: " + juce::String (name) + " " + juce::String (bounds.getX()) + " " +
              juce::String (bounds.getY()) + " " + juce::String (bounds.getWidth()) + " " +
              juce::String (bounds.getHeight()));
}

const juce::String DemoApplication::getApplicationName()
{
    return "ZelvorUpdaterDemo";
}

void DemoApplication::initialise (const juce::String& commandLine)
{
    if (const auto status = parseOptions (getCommandLineParameterArray(), options))
    {
        setApplicationReturnValue (*status);
        quit();
        return;
    }

    if (options.layout)
    {
        tellLayout();
        quit();
        return;
    }

    if (! checkDisplay())
        return;

    Pacing::setSpeed (options.speed);
    Prompts::install (&prompts);
    if (options.systemMidi)
    {
        // The updater as shipped, with only its pace and its told boxes added.
        ZelvorApplication::initialise (commandLine);
        return;
    }

    VirtualUnit::Options unitOptions;
    unitOptions.pluggedIn = ! options.unplugged;
    service.addOtherDevice ("Midi Through Port-0"); // listed before the unit, as on Linux
    unit = std::make_unique<VirtualUnit> (service, unitOptions);
    // Known: the options were checked before anything was shown, so a typo never leaves a healthy
    // unit on the desk.
    unit->setFault (options.fault);
    if (options.portsHeld)
        unit->setFault ("ports-held");
    second = std::make_unique<SecondUnit> (service, options.secondUnit);

    MidiPortService::install (&service);

    outputs = std::make_unique<UnitOutputs> (service, options.logFile, options.flashFile, options.dspReceivedFile);
    if (! outputs->unwritten().isEmpty())
    {
        std::cerr << "cannot write " << outputs->unwritten().joinIntoString (", ") << "\n";
        outputs = nullptr;
        unit = nullptr; // a usage error writes no output file
        setApplicationReturnValue (2);
        quit();
        return;
    }

    unitWindow = std::make_unique<VirtualUnitWindow> (*unit, options.fault, options.portsHeld);

    ZelvorApplication::initialise (commandLine);

    // Beside the updater, as the unit would sit beside the computer; on a screen too small for
    // that, wherever it fits whole.
    if (mainWindow != nullptr)
    {
        const auto updater = mainWindow->getBounds();
        auto placed = unitWindow->getBounds().withPosition (updater.getRight() + 40, updater.getY() - 60);
        if (const auto* display = juce::Desktop::getInstance().getDisplays().getDisplayForRect (updater))
        {
            // Its frame as the updater's: the title bar must stay on the screen too.
            juce::BorderSize<int> frame;
            if (auto* peer = mainWindow->getPeer())
                if (const auto size = peer->getFrameSizeIfPresent())
                    frame = *size;
            placed = placed.constrainedWithin (frame.subtractedFrom (display->userArea).reduced (4));
        }
        unitWindow->setBounds (placed);
    }
    unitWindow->setVisible (true);
    if (second->unit() != nullptr)
    {
        // Below the first, as a second box on the desk, or as far down as the screen allows.
        secondWindow = std::make_unique<VirtualUnitWindow> (*second->unit(), "none", false, "Virtual Zelvor 2");
        auto below = unitWindow->getBounds().translated (0, unitWindow->getHeight() + 40);
        if (const auto* display =
                juce::Desktop::getInstance().getDisplays().getDisplayForRect (unitWindow->getBounds()))
            below = below.constrainedWithin (display->userArea.reduced (4).withTrimmedTop (40));
        secondWindow->setBounds (below);
        secondWindow->setVisible (true);
    }
    if (mainWindow != nullptr)
        mainWindow->toFront (true);
}

void DemoApplication::shutdown()
{
    // The updater goes first: its link closes the unit's ports.
    ZelvorApplication::shutdown();
    unitWindow = nullptr;
    secondWindow = nullptr;

    if (unit != nullptr && outputs != nullptr)
    {
        outputs->finish (*unit);
        const bool written = second->writeOutputs (options.secondFlashFile, options.secondDspReceivedFile) &&
                             outputs->unwritten().isEmpty();
        if (! written)
        {
            std::cerr << "cannot write the output files\n";
            setApplicationReturnValue (1);
        }
    }

    outputs = nullptr;
    second = nullptr;
    unit = nullptr;
    MidiPortService::install (nullptr);
    Prompts::install (nullptr);
}
} // namespace zelvor
