// zelvor-virtual-run: drives the link against the virtual unit without a window, with the same
// start/poll sequence as the updater's update run (DSP first, then QEX, for a full update, with
// the unit power-cycled in between).

#include "link/FirmwareManager.h"
#include "link/Pacing.h"
#include "sim/VirtualUnit.h"
#include "update/UpdatePhase.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <unistd.h>

using namespace zelvor;

namespace
{
struct Options
{
    juce::String update{"all"};
    juce::File qexFile, dspFile, logFile, flashFile, dspReceivedFile;
    juce::String fault{"none"};
    double speed = 1.0;
    bool listFaults = false;
};

const char* usage = "usage: zelvor-virtual-run [--update all|qex|dsp] [--qex FILE] [--dsp FILE] [--fault NAME]\n"
                    "                          [--list-faults] [--speed N] [--log FILE] [--flash FILE]\n"
                    "                          [--dsp-received FILE]\n";

bool parseArguments (int argc, char** argv, Options& options, juce::String& error)
{
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--list-faults")
        {
            options.listFaults = true;
            continue;
        }

        if (i + 1 >= argc)
        {
            error = arg.startsWith ("--") ? arg + " needs a value" : "unknown argument " + arg;
            return false;
        }

        const juce::String value (argv[++i]);
        if (arg == "--update" && (value == "all" || value == "qex" || value == "dsp"))
            options.update = value;
        else if (arg == "--qex")
            options.qexFile = cwd.getChildFile (value);
        else if (arg == "--dsp")
            options.dspFile = cwd.getChildFile (value);
        else if (arg == "--fault")
            options.fault = value;
        else if (arg == "--speed" && value.getDoubleValue() > 0.0)
            options.speed = value.getDoubleValue();
        else if (arg == "--log")
            options.logFile = cwd.getChildFile (value);
        else if (arg == "--flash")
            options.flashFile = cwd.getChildFile (value);
        else if (arg == "--dsp-received")
            options.dspReceivedFile = cwd.getChildFile (value);
        else
        {
            error = "bad argument " + arg + " " + value;
            return false;
        }
    }
    return true;
}

// One line per MIDI message in either direction: protocol milliseconds, direction, hex bytes.
class TrafficLog
{
public:
    explicit TrafficLog (const juce::File& file)
        : out (file.getFullPathName().toStdString()), start (Pacing::elapsedMilliseconds())
    {
    }

    bool isOpen() const
    {
        return out.is_open();
    }

    void write (bool toUnit, const std::uint8_t* data, int size)
    {
        char line[16];
        std::lock_guard<std::mutex> guard (lock);
        std::snprintf (line, sizeof (line), "%lld %c", (long long) (Pacing::elapsedMilliseconds() - start), toUnit ? '>' : '<');
        out << line;
        for (int i = 0; i < size; ++i)
        {
            std::snprintf (line, sizeof (line), " %02X", data[i]);
            out << line;
        }
        out << '\n';
    }

private:
    std::mutex lock; // replies and sends arrive on different threads
    std::ofstream out;
    double start;
};

class ProgressDisplay
{
public:
    void show (const char* phase, double fraction)
    {
        const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
        if (isatty (STDERR_FILENO))
        {
            const int filled = percent * 30 / 100;
            std::fprintf (stderr, "\r%-4s [%s%s] %3d%%", phase, std::string ((size_t) filled, '#').c_str(), std::string ((size_t) (30 - filled), '.').c_str(), percent);
        }
        else if (percent / 10 != lastTenth)
        {
            std::fprintf (stderr, "%s %d%%\n", phase, percent);
        }
        lastTenth = percent / 10;
    }

    void endLine()
    {
        if (isatty (STDERR_FILENO))
            std::fprintf (stderr, "\n");
        lastTenth = -1;
    }

private:
    int lastTenth = -1;
};

bool writeFile (const juce::File& file, const std::vector<std::uint8_t>& bytes)
{
    return file == juce::File() || file.replaceWithData (bytes.data(), bytes.size());
}

// The update run's power-on wait, bounded: the virtual unit either comes back or never does.
bool powerOnWait (FirmwareManager& link)
{
    for (int attempt = 0; attempt < 5; ++attempt)
        if (link.reopenUnitPorts())
            return true;
    return false;
}

int finish (bool success, const juce::String& reason)
{
    std::cout << (success ? juce::String ("result: success") : "result: failure: " + reason) << std::endl;
    return success ? 0 : 1;
}

int runUpdate (const Options& options, VirtualUnit& unit)
{
    FirmwareManager link;
    if (! FirmwareManager::isUnitPresent())
        return finish (false, "Zelvor not detected");
    if (link.midiIn == nullptr || link.midiOut == nullptr)
        return finish (false, "Zelvor is being used by another program");

    const bool doDsp = options.update != "qex";
    const bool doQex = options.update != "dsp";

    if (doQex)
    {
        if (options.qexFile == juce::File())
            link.loadBuiltInQexImage();
        else
            link.loadQexImageFile (options.qexFile);
        if (! link.qexImageValid.load())
            return finish (false, "the QEX image cannot be used");
    }

    if (doDsp)
    {
        if (options.dspFile == juce::File())
            link.loadBuiltInDspImage();
        else
            link.loadDspImageFile (options.dspFile);
        if (! link.dspImageLoaded.load())
            return finish (false, "the DSP image cannot be used");
    }

    ProgressDisplay display;
    if (! powerOnWait (link))
        return finish (false, "the unit's ports could not be opened");

    if (doDsp)
    {
        const auto dsp = runUpdatePhase (
            link, FirmwareKind::dsp, [&display] (double p)
            { display.show ("DSP", p); },
            nullptr);
        display.endLine();
        if (dsp != phaseSucceeded)
            return finish (false, "DSP update failed");

        if (doQex)
        {
            // The user power-cycles the unit between the two firmwares.
            unit.powerCycle();
            Pacing::sleep (4000);
            if (! powerOnWait (link))
                return finish (false, "the unit did not come back after its power cycle");
            Pacing::sleep (500);
        }
    }

    if (doQex)
    {
        const auto qex = runUpdatePhase (
            link, FirmwareKind::qex, [&display] (double p)
            { display.show ("QEX", p); },
            nullptr);
        display.endLine();
        if (qex != phaseSucceeded)
            return finish (false, "QEX update failed");
    }

    return finish (true, {});
}
} // namespace

int main (int argc, char** argv)
{
    Options options;
    juce::String error;
    if (! parseArguments (argc, argv, options, error))
    {
        std::cerr << error << "\n"
                  << usage;
        return 2;
    }

    if (options.listFaults)
    {
        for (const auto& name : VirtualUnit::faultNames())
            std::cout << name << "  " << VirtualUnit::describeFault (name) << "\n";
        return 0;
    }

    Pacing::setSpeed (options.speed);

    VirtualMidiService service;
    MidiPortService::install (&service);

    std::unique_ptr<TrafficLog> log;
    if (options.logFile != juce::File())
    {
        log = std::make_unique<TrafficLog> (options.logFile);
        if (! log->isOpen())
        {
            std::cerr << "cannot write " << options.logFile.getFullPathName() << "\n";
            return 2;
        }
        service.setTrafficTap ([&log] (bool toUnit, const std::uint8_t* data, int size)
                               { log->write (toUnit, data, size); });
    }

    int code = 0;
    {
        VirtualUnit unit (service);
        if (! unit.setFault (options.fault))
        {
            std::cerr << "unknown fault " << options.fault << " (see --list-faults)\n";
            code = 2;
        }
        else
        {
            code = runUpdate (options, unit);
            if (! writeFile (options.flashFile, unit.flash()) || ! writeFile (options.dspReceivedFile, unit.dspReceived()))
            {
                std::cerr << "cannot write the output files\n";
                code = code == 0 ? 1 : code;
            }
        }
        service.setTrafficTap (nullptr);
    }

    MidiPortService::install (nullptr);
    return code;
}
