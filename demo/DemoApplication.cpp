#include "demo/DemoApplication.h"

#include "app/ZelvorWindow.h"
#include "link/Pacing.h"
#include "update/FirmwareUpdater.h"

#include <iostream>

namespace zelvor
{
const char* const DemoApplication::usage =
    "usage: ZelvorUpdaterDemo [--speed N] [--fault NAME] [--unplugged] [--ports-held]\n"
    "                         [--log FILE] [--flash FILE] [--dsp-received FILE] [--midi virtual|system]\n"
    "  --speed N            run N times faster than real time (0.1 to 1000; default 1)\n"
    "  --fault NAME[:N]     make the virtual unit misbehave (zelvor-virtual-run --list-faults)\n"
    "  --unplugged          start with the unit unplugged\n"
    "  --ports-held         start with the unit's ports held by another program\n"
    "  --log FILE           one line per MIDI message in either direction\n"
    "  --flash FILE         the unit's flash, written when the demo quits\n"
    "  --dsp-received FILE  the DSP image bytes the unit received, written when the demo quits\n"
    "  --midi system        the machine's MIDI ports (a unit on USB) instead of the virtual unit\n"
    "  --layout             tell where the buttons of both windows are (no display needed), and quit\n";

bool DemoApplication::parseOptions (const juce::StringArray& args, Options& options, juce::String& error)
{
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    juce::StringArray outputs;
    for (int i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "--layout")
        {
            (arg == "--layout" ? options.layout : options.help) = true;
            continue;
        }
        if (arg == "--unplugged" || arg == "--ports-held")
        {
            (arg == "--unplugged" ? options.unplugged : options.portsHeld) = true;
            continue;
        }

        const bool takesValue = arg == "--speed" || arg == "--fault" || arg == "--log" || arg == "--flash" ||
                                arg == "--dsp-received" || arg == "--midi";
        if (! takesValue)
        {
            error = "unknown option " + arg.quoted();
            return false;
        }
        if (i + 1 >= args.size() || args[i + 1].isEmpty())
        {
            error = arg + " needs a value";
            return false;
        }

        const auto value = args[++i];
        if (arg == "--speed")
        {
            const auto trimmed = value.trim();
            const bool numeric = trimmed.isNotEmpty() && trimmed.containsOnly ("0123456789.") &&
                                 trimmed.indexOfChar ('.') == trimmed.lastIndexOfChar ('.');
            const double speed = trimmed.getDoubleValue();
            if (! numeric || speed < 0.1 || speed > 1000.0)
            {
                error = "--speed takes a number from 0.1 to 1000, not " + value.quoted();
                return false;
            }
            options.speed = speed;
        }
        else if (arg == "--fault")
        {
            options.fault = value;
        }
        else if (arg == "--midi")
        {
            if (value != "virtual" && value != "system")
            {
                error = "--midi takes virtual or system, not " + value.quoted();
                return false;
            }
            options.systemMidi = value == "system";
        }
        else
        {
            const auto file = cwd.getChildFile (value);
            if (file.isDirectory())
            {
                error = arg + " " + value.quoted() + " is a directory";
                return false;
            }
            if (outputs.contains (file.getFullPathName()))
            {
                error = value.quoted() + " is given for two outputs";
                return false;
            }
            outputs.add (file.getFullPathName());
            (arg == "--log" ? options.logFile : arg == "--flash" ? options.flashFile : options.dspReceivedFile) = file;
        }
    }

    const juce::File none;
    if (options.systemMidi && (options.fault != "none" || options.unplugged || options.portsHeld ||
                               options.logFile != none || options.flashFile != none || options.dspReceivedFile != none))
    {
        error = "--fault, --unplugged, --ports-held, --log, --flash and --dsp-received need the virtual unit (--midi "
                "virtual)";
        return false;
    }
    return true;
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

void DemoApplication::TracingPrompts::showMessage (Icon icon, const juce::String& title, const juce::String& message)
{
    tell ("box: " + describe (icon, title, message));
    JucePrompts::showMessage (icon, title, message);
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
    juce::String error;
    if (! parseOptions (getCommandLineParameterArray(), options, error) || options.help)
    {
        if (! options.help)
            std::cerr << error << "\n";
        std::cerr << usage;
        setApplicationReturnValue (options.help ? 0 : 2);
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

    // The fault is checked before anything is shown, so a typo never leaves a healthy unit on
    // the desk.
    VirtualUnit::Options unitOptions;
    unitOptions.pluggedIn = ! options.unplugged;
    service.addOtherDevice ("Midi Through Port-0"); // listed before the unit, as on Linux
    unit = std::make_unique<VirtualUnit> (service, unitOptions);
    if (! unit->setFault (options.fault))
    {
        std::cerr << "unknown fault " << options.fault << " (see zelvor-virtual-run --list-faults)\n";
        unit = nullptr;
        setApplicationReturnValue (2);
        quit();
        return;
    }
    if (options.portsHeld)
        unit->setFault ("ports-held");

    MidiPortService::install (&service);

    if (options.logFile != juce::File())
    {
        log = std::make_unique<TrafficLog> (options.logFile);
        if (! log->isOpen())
        {
            std::cerr << "cannot write " << options.logFile.getFullPathName() << "\n";
            log = nullptr;
            unit = nullptr; // a usage error writes no output file
            setApplicationReturnValue (2);
            quit();
            return;
        }
        service.setTrafficTap ([this] (bool toUnit, const std::uint8_t* data, int size)
                               { log->write (toUnit, data, size); });
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
    if (mainWindow != nullptr)
        mainWindow->toFront (true);
}

void DemoApplication::shutdown()
{
    // The updater goes first: its link closes the unit's ports.
    ZelvorApplication::shutdown();
    unitWindow = nullptr;

    if (unit != nullptr)
    {
        bool written = log == nullptr || ! log->failed();
        if (options.flashFile != juce::File())
            written = writeOutput (options.flashFile, unit->flash()) && written;
        if (options.dspReceivedFile != juce::File())
            written = writeOutput (options.dspReceivedFile, unit->dspReceived()) && written;
        if (! written)
        {
            std::cerr << "cannot write the output files\n";
            setApplicationReturnValue (1);
        }
    }

    service.setTrafficTap (nullptr);
    unit = nullptr;
    log = nullptr;
    MidiPortService::install (nullptr);
    Prompts::install (nullptr);
}
} // namespace zelvor
