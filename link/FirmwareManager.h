#pragma once

#include "link/DspImage.h"
#include "link/MidiPortService.h"
#include "link/PortDiscovery.h"
#include "link/Protocol.h"
#include "link/QexImage.h"
#include "link/RecentTraffic.h"
#include "link/RunFailure.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvor
{
namespace Sysex
{
    struct FixedMessage;
}

// The one object through which the program reaches the unit: it owns the unit's two ports, the
// selected firmware images and the worker thread that writes them. Replies from the unit reach
// the waiting procedure through the state words, which the receive handler moves on.
class FirmwareManager : public juce::MidiInputCallback, public juce::Thread, private juce::Thread::Listener
{
public:
    FirmwareManager();
    ~FirmwareManager() override;

    // Runs on the MIDI input thread for every message from the unit.
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

    // The worker: the data-block transfer (transferMode 1) or the DSP replay (transferMode 2).
    void run() override;

    // Ports. A unit is present while any candidate for it is listed.
    static bool isUnitPresent();
    // Closes the ports, waits for the unit to settle, then looks for the one unit and opens its
    // ports; true when they are open. Never while the worker runs.
    bool reopenUnitPorts();
    // What the last search for the unit found (UnitSearch::Result).
    std::atomic<int> lastSearch{UnitSearch::notFound};
    // Set when a unit other than the one this link holds was listed while it wrote: the run
    // stops as failed. Cleared by a search that finds exactly one unit.
    std::atomic<bool> anotherUnitSeen{false};

    // Image selection, on the message thread while no transfer runs. An image chosen replaces
    // the one selected before, also when it is refused: the user asked for this one, so nothing
    // of the earlier image may be sent in its place. Each returns whether the image is usable.
    bool selectQexImage (QexImage image);
    bool selectDspImage (DspImage image);
    bool loadQexImageFile (const juce::File& file);
    bool loadDspImageFile (const juce::File& file);
    void loadBuiltInQexImage();
    bool loadBuiltInDspImage();

    // Transfers. The start operations return false when they refuse to start or, for QEX, when
    // the handshake fails; the polls return 0 while the worker runs, then +1 or -1 once.
    bool startQexUpdate();
    bool startDspUpdate();
    int pollQexResult();
    int pollDspResult();

    // Who the unit says it is, asked between transfers with its ports open (the identity
    // request, answered within 12000 ms as in the QEX handshake): running its main firmware, in
    // its loader (an update cut short), or no answer.
    using UnitMode = zelvor::UnitMode;
    UnitMode askUnitMode();

    // What the unit last told this link it is, for when it does not answer: its loader too once
    // it acknowledged the switch into it. Unknown until it has answered, and again after a QEX
    // write that took (a power cycle makes that unit a running one).
    UnitMode lastKnownMode() const;

    // Why the last transfer did not write its image (Cause::none after one that did), for the
    // user. Noted by the start operations, the worker and the receive handler's refusals; read
    // once the poll has reported. The first cause noted since a start operation stands, as what
    // follows it is its effect (a cancel after a stalled send).
    RunFailure lastFailure() const;
    void
    noteFailure (RunFailure::Cause cause, RunFailure::Step step = RunFailure::Step::none, int done = 0, int total = 0);

    // When the last start operation began and when its failure was noted
    // (juce::Time::getMillisecondCounter(); 0 when none), for a failure's details.
    std::uint32_t lastRunStartedAt() const
    {
        return runStartedAt.load();
    }
    std::uint32_t lastFailureNotedAt() const
    {
        return failureNotedAt.load();
    }

    // The last messages each way, by kind and length.
    const RecentTraffic& recentTraffic() const
    {
        return traffic;
    }

    // Every port name the link's searches have listed, inputs and outputs. Written by the thread
    // that searches; read once it has ended (the update run's thread, or the caller's own).
    const juce::StringArray& portNamesSeen() const
    {
        return namesSeen;
    }

    // Waits until the worker thread has ended, so that the owner never opens or closes the
    // ports while the worker may still close them; false when it still runs after the limit
    // (real milliseconds; a send that the platform never completes holds it).
    bool waitForWorkerToEnd (int limitMs = Protocol::workerEndLimitMs);

    // A send that the platform has not completed after sendLimitMs of real time is taken for one
    // that never will (a driver waiting on a unit pulled out mid-send): the run fails. The
    // worker's sends are watched by the phase's poll through this; every other thread's send
    // waits no longer than that itself, and leaves the port stuck (portStuck).
    bool sendStalled() const;
    bool portStuck() const;

    // qexState values.
    enum QexState
    {
        qexIdle = 0,
        qexAwaitIdentity = 2,
        qexIdentityRunning = 3,
        qexAwaitLoaderAck = 4,
        qexLoaderAcknowledged = 5,
        qexAwaitLoaderIdentity = 6,
        qexIdentityLoader = 7,
        qexAwaitMap = 8,
        qexMapReceived = 9,
        qexAwaitBeginWriteAck = 10,
        qexBeginWriteAcknowledged = 11,
        qexAwaitDataAck = 12,
        qexDataAcknowledged = 13,
        qexIncomplete = -1, // the transfer stopped with part of the image unwritten
        qexRefused = -2
    };

    // dspAckState values.
    enum DspAckState
    {
        dspIdle = 0,
        dspAwaitAck = 1,
        dspIncomplete = -1, // the replay stopped before the end of the image
        dspRefused = -2
    };

    enum TransferMode
    {
        modeIdle = 0,
        modeQex = 1,
        modeDsp = 2
    };

    std::unique_ptr<MidiInputPort> midiIn;
    std::unique_ptr<BoundedOutput> midiOut;
    std::atomic<double> overallProgress{0.0};
    std::atomic<int> qexState{qexIdle};
    std::atomic<int> dspAckState{dspIdle};
    std::atomic<int> transferMode{modeIdle};
    QexImage qexImage;
    DspImage dspImage;
    std::atomic<bool> qexImageValid{false};  // qexImage is usable
    std::atomic<bool> dspImageLoaded{false}; // dspImage is usable
    std::array<std::uint8_t, 256> replyBuffer{};

    // Why the last image selected was refused, in a short sentence for the user ("" when the
    // image was taken).
    juce::String imageError;

    // How many "DBG" trace lines have been written (a test and diagnostic aid).
    std::atomic<int> traceCount{0};

    // Where the "DBG" trace lines go: the platform's debug output, unless a program routes them
    // elsewhere (the headless driver keeps them off its progress bar). Null restores the default.
    using TraceWriter = void (*) (const char* line);
    static void setTraceWriter (TraceWriter writer);

protected:
    // Starts the worker thread; false when the platform could not start it.
    virtual bool startWorker();

private:
    void exitSignalSent() override;
    // A cancel: of the link (signalThreadShouldExit), or of the thread that drives a start
    // operation (the update run's own thread, when the user cancels it).
    bool exitRequested() const;

    void trace();
    // False when the send did not complete in time (see sendStalled).
    bool send (const std::uint8_t* bytes, int size);
    // Announces the wait for a reply and sends the request, unless a cancel has come in; false
    // when it was not sent.
    bool sendRequest (int awaitState, const std::uint8_t* bytes, int size);
    bool waitForQexState (int expected, int alsoBeforeSleep = -100);
    // A handshake step: the request, then its answer; when none comes, why, noted for the step.
    bool askUnit (int awaitState, const Sysex::FixedMessage& request, int expected, RunFailure::Step step);
    // Why a wait for the unit ended without what it waited for: a cancel, the unit gone (or
    // another one beside it), a refusal, or silence.
    RunFailure::Cause causeOfNoReply();
    // The unit's ports have gone from the system, one of them is no longer open, or the ports the
    // link holds are no longer the unit's (it lost power and re-enumerated).
    bool unitGone();
    // One of the candidates is neither the unit this link holds nor one found silent.
    bool anotherUnitAmong (const std::vector<UnitPorts>& candidates);
    // Looks for the unit and opens its ports (closed first); sets lastSearch.
    UnitSearch::Result connectToUnit();
    void pause (int milliseconds);
    // Sleeps until the given protocol time (Pacing::elapsedMilliseconds), or an exit request.
    void waitUntil (double protocolDeadline);

    void runQexTransfer();
    void runDspTransfer();

    // Either poll: the run's result from its state word, once; the state, the mode and the
    // image's selection are reset and the ports closed.
    int pollResult (std::atomic<int>& state, std::atomic<bool>& imageSelected);

    // Reports a run whose worker ended while nobody was polling (it outlived a bounded wait),
    // so that the link is idle again before its ports are touched.
    void collectEndedRun();

    // The ports of the unit this link holds, and the candidates found silent beside it, as the
    // last search listed them. Written only while no worker runs.
    UnitPorts heldUnit;
    std::vector<UnitPorts> silentCandidates;

    std::atomic<int> modeLastKnown{(int) UnitMode::unknown};

    // lastFailure's parts: the cause word is claimed first, so that one noter fills the rest.
    std::atomic<int> failureCause{(int) RunFailure::Cause::none};
    std::atomic<int> failureStep{(int) RunFailure::Step::none};
    std::atomic<int> failureDone{0};
    std::atomic<int> failureTotal{0};
    std::atomic<std::uint32_t> failureNotedAt{0};
    std::atomic<std::uint32_t> runStartedAt{0};
    // Clears the last failure as a start operation begins.
    void clearFailure();

    RecentTraffic traffic;
    juce::StringArray namesSeen;

    std::atomic<double> sendStartedAt{0.0}; // real ms (juce::Time's counter) of a send in progress, 0 when none

    // Set by every signalThreadShouldExit on the link and cleared when a poll reports; unlike
    // the worker's own flag it also reaches the handshake, which runs before the worker.
    std::atomic<bool> cancelRequested{false};

    // A data-block acknowledgement came with no chunk awaiting it: from then on none can be
    // matched to its chunk, and the write ends unfinished. Kept apart from the state word, which
    // the next try would overwrite.
    std::atomic<bool> lateAckSeen{false};

    JUCE_DECLARE_NON_COPYABLE (FirmwareManager)
};
} // namespace zelvor
