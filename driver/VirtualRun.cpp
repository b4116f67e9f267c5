// zelvor-virtual-run: drives the link against the virtual unit without a window, through the
// updater's own update sequence (for a full update, the order the unit's mode calls for, with
// the unit power-cycled between the two phases).

#include "link/FirmwareManager.h"
#include "link/Pacing.h"
#include "sim/CommandLine.h"
#include "sim/HeadlessUpdate.h"
#include "sim/SecondUnit.h"
#include "sim/UnitOutputs.h"
#include "update/TimeLeft.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>

using namespace zelvor;

namespace
{
struct Options
{
    juce::String update{"all"};
    juce::File qexFile, dspFile, logFile, flashFile, dspReceivedFile;
    juce::String fault{"none"};
    juce::String secondUnit{"none"};
    juce::File secondFlashFile, secondDspReceivedFile;
    double speed = 1.0;
    bool verbose = false;
    bool systemMidi = false;        // the machine's MIDI ports instead of the virtual unit
    bool again = false;             // a second run after the first, as a user clicks again
    bool lenientLoader = false;     // the unit's loader also takes the DSP image
    juce::String powerCycleCommand; // run where the user would power-cycle the unit
};

// The options, read by the simulator programs' shared reader; what it cannot know (which
// options go together) is checked here. Empty, or the exit status.
std::optional<int> parseArguments (const juce::StringArray& arguments, Options& options)
{
    CommandLine::Options parser ("zelvor-virtual-run");
    parser.choice ("--update", options.update, {"all", "qex", "dsp"}, "which firmware to write (default all)");
    parser.input ("--qex", options.qexFile, "a QEX update file instead of the built-in image");
    parser.input ("--dsp", options.dspFile, "a DSP update file instead of the built-in image");
    parser.fault (options.fault);
    parser.speed (options.speed);
    parser.unitOutputs (options.logFile, options.flashFile, options.dspReceivedFile, "after the run");
    parser.secondUnit (options.secondUnit, options.secondFlashFile, options.secondDspReceivedFile, "after the run");
    juce::String midi{"virtual"};
    parser.choice ("--midi", midi, {"virtual", "system"}, "the virtual unit, or the machine's MIDI ports");
    parser.text ("--power-cycle", options.powerCycleCommand, "a command run where the user would power-cycle the unit");
    parser.flag ("--again", options.again, "run the same update once more after the first, as a user who clicks again");
    parser.flag ("--lenient-loader", options.lenientLoader, "the virtual unit's loader also takes the DSP image");
    parser.flag ("--verbose", options.verbose, "trace the run on stdout");
    if (const auto status = parser.parse (arguments))
        return status;
    options.systemMidi = midi == "system";

    const juce::File none;
    if (options.update == "qex" && (options.dspFile != none || options.dspReceivedFile != none))
        return parser.refuse ("--dsp and --dsp-received are not used by --update qex");
    if (options.update == "dsp" && (options.qexFile != none || options.flashFile != none))
        return parser.refuse ("--qex and --flash are not used by --update dsp");
    if (options.systemMidi &&
        (options.fault != "none" || options.logFile != none || options.flashFile != none ||
         options.dspReceivedFile != none || options.lenientLoader || options.secondUnit != "none" ||
         options.secondFlashFile != none || options.secondDspReceivedFile != none))
        return parser.refuse ("--fault, --log, --flash, --dsp-received, --lenient-loader and the --second-* options "
                              "need the virtual unit (--midi virtual)");
    if (! options.systemMidi && options.powerCycleCommand.isNotEmpty())
        return parser.refuse ("--power-cycle needs --midi system");
    return std::nullopt;
}

// The terminal: the progress bar on stderr, the trace (with --verbose) and the result on
// stdout. Where both streams share a terminal, a trace line takes the bar's place and the bar
// is drawn again below it, so neither breaks the other. The time left is told as the progress
// window tells it, in real time whatever the speed: after the bar on a terminal, otherwise a
// "time left:" line at each change with the seconds since the phase's first report, and one
// more for the phase's last report, so that a reader can set what was told against what came.
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
        const double nowMs = juce::Time::getMillisecondCounterHiRes();
        const std::lock_guard<std::mutex> guard (lock);
        const char* phase = kind == FirmwareKind::dsp ? "DSP" : "QEX";
        if (phase != currentPhase)
        {
            endBarLocked();
            // One estimate a phase, as the window makes one for each run of its worker.
            timeLeft = TimeLeft();
            told.clear();
            phaseStartMs = nowMs;
        }
        currentPhase = phase;
        lastReportMs = nowMs;
        lastFraction = fraction;

        const auto left = timeLeft.update (nowMs, fraction);
        const bool leftChanged = left != told;
        told = left;

        const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
        if (barOnTerminal)
        {
            const int filled = percent * 30 / 100;
            bar = "\r" + std::string (phase) + " [" + std::string ((size_t) filled, '#') +
                  std::string ((size_t) (30 - filled), '.') + "] " + std::to_string (percent) + "%";
            // A shorter text than the one before must not leave its tail behind.
            if (told.isNotEmpty())
                bar += "  " + told.toStdString() + "\033[K";
            std::fputs (bar.c_str(), stderr);
            std::fflush (stderr);
        }
        else
        {
            if (percent / 10 != lastTenth)
                std::fprintf (stderr, "%s %d%%\n", phase, percent);
            if (leftChanged)
                timeLeftLineLocked (told.toRawUTF8());
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
        else if (! barOnTerminal && currentPhase != nullptr)
            timeLeftLineLocked ("(last report)");
        bar.clear();
        lastTenth = -1;
        currentPhase = nullptr;
    }

    // The seconds are those of the phase's latest report since its first; the last report is
    // known as such only once the next phase or the result comes, and is printed then.
    void timeLeftLineLocked (const char* what)
    {
        std::fprintf (stderr,
                      "time left: %s %.1f s %.1f%% %s\n",
                      currentPhase,
                      (lastReportMs - phaseStartMs) / 1000.0,
                      lastFraction * 100.0,
                      what);
        std::fflush (stderr);
    }

    std::mutex lock; // the link's threads trace while the run's thread shows progress
    const bool verbose;
    const bool barOnTerminal;
    const bool sharedTerminal;
    const char* currentPhase = nullptr;
    std::string bar;
    int lastTenth = -1;
    TimeLeft timeLeft;
    juce::String told;
    double phaseStartMs = 0.0, lastReportMs = 0.0, lastFraction = 0.0;
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
    RunThread (HeadlessUpdate u, std::function<void()> cycle, std::unique_ptr<FirmwareManager>& l)
        : juce::Thread ("update run"), update (std::move (u)), powerCycle (std::move (cycle)), link (l)
    {
        update.shouldCancel = [this] { return threadShouldExit(); };
    }

    ~RunThread() override
    {
        stopThread (-1);
    }

    void run() override
    {
        // Made here, so that a signal also cuts short its first look for the unit.
        const bool ranBefore = link != nullptr;
        if (! ranBefore)
            link = std::make_unique<FirmwareManager>();
        result = runHeadlessUpdate (update, powerCycle, *link, ranBefore);
    }

    HeadlessUpdate update;
    std::function<void()> powerCycle;
    std::unique_ptr<FirmwareManager>& link;
    HeadlessResult result;
};
} // namespace

int main (int argc, char** argv)
{
    Options options;
    if (const auto status = parseArguments (CommandLine::arguments (argc, argv), options))
        return *status;

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
        UnitOutputs outputs (service, options.logFile, options.flashFile, options.dspReceivedFile);
        unwritten = outputs.unwritten();

        VirtualUnit::Options unitOptions;
        unitOptions.pluggedIn = ! options.systemMidi;
        unitOptions.loaderTakesDsp = options.lenientLoader;
        VirtualUnit unit (service, unitOptions);
        unit.setFault (options.fault);
        const SecondUnit second (service, options.systemMidi ? juce::String ("none") : options.secondUnit);

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

            // One link for both runs, as the panel keeps one across clicks.
            std::unique_ptr<FirmwareManager> link;
            const int runs = options.again ? 2 : 1;
            for (int runNumber = 1; runNumber <= runs; ++runNumber)
            {
                if (runNumber > 1)
                {
                    terminal.result (resultLine (result, {}));
                    if (caughtSignal.load() != 0)
                        break;
                }

                RunThread run (update, powerCycle, link);
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

            link = nullptr;

            // The requested outputs are written whatever the outcome.
            outputs.finish (unit);
            unwritten = outputs.unwritten();
            if (! second.writeOutputs (options.secondFlashFile, options.secondDspReceivedFile))
                unwritten.add ("the second unit's outputs");
        }
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
