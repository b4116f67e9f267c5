// zelvor-virtual-run: drives the link against the virtual unit without a window, through the
// updater's own update sequence (for a full update, the order the unit's mode calls for, with
// the unit power-cycled between the two phases).

#include "link/FirmwareManager.h"
#include "link/Pacing.h"
#include "sim/CommandLine.h"
#include "sim/HeadlessUpdate.h"
#include "sim/TrafficLog.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace zelvor;
using zelvor::CommandLine::absentOrRegular;
using zelvor::CommandLine::parseNumber;

namespace
{
struct Options
{
    juce::String update{"all"};
    juce::File qexFile, dspFile, logFile, flashFile, dspReceivedFile;
    juce::String fault{"none"};
    double speed = 1.0;
    bool listFaults = false;
    bool verbose = false;
    bool help = false;
    bool systemMidi = false;        // the machine's MIDI ports instead of the virtual unit
    bool again = false;             // a second run after the first, as a user clicks again
    bool lenientLoader = false;     // the unit's loader also takes the DSP image
    juce::String powerCycleCommand; // run where the user would power-cycle the unit
};

const char* usage = "usage: zelvor-virtual-run [--update all|qex|dsp] [--qex FILE] [--dsp FILE] [--fault NAME]\n"
                    "                          [--list-faults] [--speed N] [--log FILE] [--flash FILE]\n"
                    "                          [--dsp-received FILE] [--midi virtual|system]\n"
                    "                          [--power-cycle COMMAND] [--again] [--lenient-loader]\n"
                    "                          [--verbose] [--help]\n"
                    "  --again            run the same update once more after the first has ended, as a\n"
                    "                     user who clicks again; a result line for each run, the exit\n"
                    "                     code and the output files those of the last\n"
                    "  --lenient-loader   the virtual unit's loader also takes the DSP image\n";

bool sameFile (const juce::File& a, const juce::File& b)
{
    if (a == b)
        return true;
#if JUCE_WINDOWS
    // The Windows C runtime gives every file the inode 0; File's comparison ignores case there.
    return false;
#else
    struct stat infoA, infoB;
    return ::stat (a.getFullPathName().toRawUTF8(), &infoA) == 0 &&
           ::stat (b.getFullPathName().toRawUTF8(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
           infoA.st_ino == infoB.st_ino;
#endif
}

bool parseArguments (int argc, char** argv, Options& options, juce::String& error)
{
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            options.help = true;
            continue;
        }
        if (arg == "--list-faults")
        {
            options.listFaults = true;
            continue;
        }
        if (arg == "--verbose" || arg == "--again" || arg == "--lenient-loader")
        {
            (arg == "--verbose" ? options.verbose : arg == "--again" ? options.again : options.lenientLoader) = true;
            continue;
        }

        if (! arg.startsWith ("--") || i + 1 >= argc)
        {
            error = arg.startsWith ("--") ? arg + " needs a value" : "unknown argument " + arg;
            return false;
        }

        const juce::String value (argv[++i]);
        if (arg == "--update" && (value == "all" || value == "qex" || value == "dsp"))
            options.update = value;
        else if (arg == "--qex" && value.isNotEmpty())
            options.qexFile = cwd.getChildFile (value);
        else if (arg == "--dsp" && value.isNotEmpty())
            options.dspFile = cwd.getChildFile (value);
        else if (arg == "--fault")
            options.fault = value;
        else if (arg == "--midi" && (value == "virtual" || value == "system"))
            options.systemMidi = value == "system";
        else if (arg == "--power-cycle" && value.isNotEmpty())
            options.powerCycleCommand = value;
        else if (arg == "--speed" && parseNumber (value, options.speed))
            continue;
        else if (arg == "--log" && value.isNotEmpty())
            options.logFile = cwd.getChildFile (value);
        else if (arg == "--flash" && value.isNotEmpty())
            options.flashFile = cwd.getChildFile (value);
        else if (arg == "--dsp-received" && value.isNotEmpty())
            options.dspReceivedFile = cwd.getChildFile (value);
        else
        {
            error = "bad argument " + arg + " " + value;
            return false;
        }
    }

    const juce::File none;
    if (options.update == "qex" && (options.dspFile != none || options.dspReceivedFile != none))
        error = "--dsp and --dsp-received are not used by --update qex";
    else if (options.update == "dsp" && (options.qexFile != none || options.flashFile != none))
        error = "--qex and --flash are not used by --update dsp";
    else if (! (options.speed >= Pacing::minSpeed && options.speed <= Pacing::maxSpeed))
        error =
            "--speed must lie between " + juce::String (Pacing::minSpeed) + " and " + juce::String (Pacing::maxSpeed);
    else if (! VirtualUnit::isValidFault (options.fault))
        error = "unknown fault " + options.fault + " (see --list-faults)";
    else if (options.systemMidi && (options.fault != "none" || options.logFile != none || options.flashFile != none ||
                                    options.dspReceivedFile != none || options.lenientLoader))
        error = "--fault, --log, --flash, --dsp-received and --lenient-loader need the virtual unit (--midi virtual)";
    else if (! options.systemMidi && options.powerCycleCommand.isNotEmpty())
        error = "--power-cycle needs --midi system";

    // An output never replaces a directory or a device, an input, or another output.
    const juce::File outputs[] = {options.logFile, options.flashFile, options.dspReceivedFile};
    for (size_t i = 0; i < std::size (outputs) && error.isEmpty(); ++i)
    {
        const auto& out = outputs[i];
        if (out == none)
            continue;
        if (! absentOrRegular (out))
            error = out.getFullPathName() + " is not a regular file";
        else if ((options.qexFile != none && sameFile (out, options.qexFile)) ||
                 (options.dspFile != none && sameFile (out, options.dspFile)))
            error = out.getFullPathName() + " is also an input";
        else
            for (size_t j = i + 1; j < std::size (outputs); ++j)
                if (outputs[j] != none && sameFile (out, outputs[j]))
                    error = out.getFullPathName() + " is named for two outputs";
    }

    return error.isEmpty();
}

// The terminal: the progress bar on stderr, the trace (with --verbose) and the result on
// stdout. Where both streams share a terminal, a trace line takes the bar's place and the bar
// is drawn again below it, so neither breaks the other.
class Console
{
public:
    explicit Console (bool showTrace)
        : verbose (showTrace)
        , barOnTerminal (isatty (STDERR_FILENO) != 0)
        , sharedTerminal (barOnTerminal && isatty (STDOUT_FILENO) != 0)
    {
    }

    void progress (FirmwareKind kind, double fraction)
    {
        const std::lock_guard<std::mutex> guard (lock);
        const char* phase = kind == FirmwareKind::dsp ? "DSP" : "QEX";
        if (phase != currentPhase)
            endBarLocked();
        currentPhase = phase;

        const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
        if (barOnTerminal)
        {
            const int filled = percent * 30 / 100;
            bar = "\r" + std::string (phase) + " [" + std::string ((size_t) filled, '#') +
                  std::string ((size_t) (30 - filled), '.') + "] " + std::to_string (percent) + "%";
            std::fputs (bar.c_str(), stderr);
            std::fflush (stderr);
        }
        else if (percent / 10 != lastTenth)
        {
            std::fprintf (stderr, "%s %d%%\n", phase, percent);
        }
        lastTenth = percent / 10;
    }

    void trace (const char* line)
    {
        if (! verbose)
            return;

        const std::lock_guard<std::mutex> guard (lock);
        const bool clearBar = sharedTerminal && ! bar.empty();
        if (clearBar)
        {
            std::fputs ("\r\033[K", stderr);
            std::fflush (stderr);
        }
        std::fprintf (stdout, "%s\n", line);
        std::fflush (stdout);
        if (clearBar)
        {
            std::fputs (bar.c_str(), stderr);
            std::fflush (stderr);
        }
    }

    void result (const juce::String& line)
    {
        const std::lock_guard<std::mutex> guard (lock);
        endBarLocked();
        std::fprintf (stdout, "%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

private:
    void endBarLocked()
    {
        if (! bar.empty())
            std::fputs ("\n", stderr);
        bar.clear();
        lastTenth = -1;
        currentPhase = nullptr;
    }

    std::mutex lock; // the link's threads trace while the run's thread shows progress
    const bool verbose;
    const bool barOnTerminal;
    const bool sharedTerminal;
    const char* currentPhase = nullptr;
    std::string bar;
    int lastTenth = -1;
};

std::atomic<Console*> console{nullptr};

// The line that ends a run: success, or what went wrong, with any output that was not written.
juce::String resultLine (const HeadlessResult& result, const juce::StringArray& unwritten)
{
    if (result.outcome == HeadlessResult::Outcome::success && unwritten.isEmpty())
        return "result: success";

    juce::StringArray reasons;
    if (result.outcome != HeadlessResult::Outcome::success)
        reasons.add (result.reason);
    if (! unwritten.isEmpty())
        reasons.add ("cannot write " + unwritten.joinIntoString (", "));
    return "result: failure: " + reasons.joinIntoString ("; ");
}

void traceToConsole (const char* line)
{
    if (auto* c = console.load())
        c->trace (line);
}

std::atomic<int> caughtSignal{0};
static_assert (std::atomic<int>::is_always_lock_free, "the signal handler stores into it");

void onSignal (int signalNumber)
{
    caughtSignal.store (signalNumber);
#if JUCE_WINDOWS
    std::signal (signalNumber, onSignal); // the runtime resets it before each call
#endif
}

void installSignalHandlers()
{
#if JUCE_WINDOWS
    // The C runtime turns Ctrl+C and Ctrl+Break in the console into these.
    for (int signalNumber : {SIGINT, SIGTERM, SIGBREAK})
        std::signal (signalNumber, onSignal);
#else
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction (signalNumber, &action, nullptr);

    // A reader that went away must not end the update: writes to it simply fail.
    std::signal (SIGPIPE, SIG_IGN);
#endif
}

// The update on a thread of its own, cancelled as the progress window's Cancel cancels its
// worker: through that thread's exit flag, which also reaches a QEX handshake in progress.
class RunThread : public juce::Thread
{
public:
    RunThread (HeadlessUpdate u, std::function<void()> cycle)
        : juce::Thread ("update run"), update (std::move (u)), powerCycle (std::move (cycle))
    {
        update.shouldCancel = [this] { return threadShouldExit(); };
    }

    ~RunThread() override
    {
        stopThread (-1);
    }

    void run() override
    {
        result = runHeadlessUpdate (update, powerCycle);
    }

    HeadlessUpdate update;
    std::function<void()> powerCycle;
    HeadlessResult result;
};
} // namespace

int main (int argc, char** argv)
{
    Options options;
    juce::String error;
    if (! parseArguments (argc, argv, options, error))
    {
        std::fprintf (stderr, "%s\n%s", error.toRawUTF8(), usage);
        return 2;
    }

    if (options.help)
    {
        std::fputs (usage, stdout);
        return 0;
    }

    if (options.listFaults)
    {
        CommandLine::printFaults();
        return 0;
    }

    installSignalHandlers();
    Pacing::setSpeed (options.speed);

    Console terminal (options.verbose);
    console.store (&terminal);
    FirmwareManager::setTraceWriter (traceToConsole);

    VirtualMidiService service;
    if (! options.systemMidi)
    {
        service.addOtherDevice ("Midi Through Port-0"); // listed before the unit, as on Linux
        MidiPortService::install (&service);
    }

    HeadlessResult result;
    juce::StringArray unwritten;
    {
        std::unique_ptr<TrafficLog> log;
        if (options.logFile != juce::File())
        {
            log = std::make_unique<TrafficLog> (options.logFile);
            if (! log->isOpen())
                unwritten.add (options.logFile.getFullPathName());
            else
                service.setTrafficTap ([&log] (bool toUnit, const std::uint8_t* data, int size)
                                       { log->write (toUnit, data, size); });
        }

        VirtualUnit::Options unitOptions;
        unitOptions.pluggedIn = ! options.systemMidi;
        unitOptions.loaderTakesDsp = options.lenientLoader;
        if (options.qexFile != juce::File())
        {
            // The unit's firmware is whole once it holds the image it is given.
            juce::FileInputStream image (options.qexFile);
            if (image.openedOk() && readQexBlocks (image, unitOptions.expectedImage).isNotEmpty())
                unitOptions.expectedImage.clear();
        }
        VirtualUnit unit (service, unitOptions);
        unit.setFault (options.fault);

        std::function<void()> powerCycle = [&unit] { unit.powerCycle(); };
        if (options.systemMidi)
            powerCycle = [command = options.powerCycleCommand]
            {
                // Without a command nobody can switch the unit off and on: the run waits for it
                // to come back as it is.
                if (command.isNotEmpty() && std::system (command.toRawUTF8()) != 0)
                    std::fprintf (stderr, "power-cycle command failed: %s\n", command.toRawUTF8());
            };

        if (unwritten.isEmpty())
        {
            HeadlessUpdate update;
            update.dsp = options.update != "qex";
            update.qex = options.update != "dsp";
            update.qexFile = options.qexFile;
            update.dspFile = options.dspFile;
            update.progress = [&terminal] (FirmwareKind kind, double p) { terminal.progress (kind, p); };

            const int runs = options.again ? 2 : 1;
            for (int runNumber = 1; runNumber <= runs; ++runNumber)
            {
                if (runNumber > 1)
                {
                    terminal.result (resultLine (result, {}));
                    if (caughtSignal.load() != 0)
                        break;
                    // The power-on wait, as the panel asks for the unit until it is back.
                    for (int tries = 0; tries < 5 && ! FirmwareManager::isUnitPresent() && caughtSignal.load() == 0;
                         ++tries)
                        Pacing::sleep (2000);
                }

                RunThread run (update, powerCycle);
                if (caughtSignal.load() != 0)
                {
                    result.outcome = HeadlessResult::Outcome::cancelled;
                    result.reason = "cancelled";
                }
                else if (! run.startThread())
                {
                    result = {};
                    result.reason = "the update could not be started";
                }
                else
                {
                    while (! run.waitForThreadToExit (20))
                        if (caughtSignal.load() != 0)
                            run.signalThreadShouldExit();
                    result = run.result;
                }
            }

            // The requested outputs are written whatever the outcome.
            if (options.flashFile != juce::File() && ! writeOutput (options.flashFile, unit.flash()))
                unwritten.add (options.flashFile.getFullPathName());
            if (options.dspReceivedFile != juce::File() && ! writeOutput (options.dspReceivedFile, unit.dspReceived()))
                unwritten.add (options.dspReceivedFile.getFullPathName());
        }

        service.setTrafficTap (nullptr);
        if (log != nullptr && log->isOpen() && log->failed())
            unwritten.add (options.logFile.getFullPathName());
    }
    MidiPortService::install (nullptr);

    const bool succeeded = result.outcome == HeadlessResult::Outcome::success && unwritten.isEmpty();
    terminal.result (resultLine (result, unwritten));

    FirmwareManager::setTraceWriter (nullptr);
    console.store (nullptr);

    // A run cut short by a signal ends with the conventional status for that signal.
    if (result.outcome == HeadlessResult::Outcome::cancelled && caughtSignal.load() != 0)
        return 128 + caughtSignal.load();
    return succeeded ? 0 : 1;
}
