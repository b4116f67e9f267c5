#include "link/FirmwareManager.h"

#include "link/Pacing.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <algorithm>
#include <cmath>

namespace zelvor
{
FirmwareManager::FirmwareManager() : juce::Thread ("FirmwareManager")
{
    addListener (this);
    connectToUnit();
}

FirmwareManager::~FirmwareManager()
{
    // Every pause of the worker gives way to an exit request within one short poll step, so
    // the worker ends well inside this grace time. Only a send the driver never completes
    // holds it longer: it is killed then, and its port is left open, since closing it would
    // hand the driver back the memory of the killed send.
    signalThreadShouldExit();
    if (! waitForThreadToExit (10000))
        (void) midiOut.release();
    stopThread (0);
    removeListener (this);
    closeUnitPorts (midiIn, midiOut);
}

void FirmwareManager::exitSignalSent()
{
    cancelRequested.store (true);
}

bool FirmwareManager::exitRequested() const
{
    return cancelRequested.load() || juce::Thread::currentThreadShouldExit();
}

namespace
{
    std::atomic<FirmwareManager::TraceWriter> traceWriter{nullptr};
}

void FirmwareManager::setTraceWriter (TraceWriter writer)
{
    traceWriter.store (writer);
}

void FirmwareManager::trace()
{
    ++traceCount;
    if (auto* writer = traceWriter.load())
        writer ("DBG");
    else
        juce::Logger::outputDebugString ("DBG");
}

bool FirmwareManager::startWorker()
{
    return startThread();
}

bool FirmwareManager::unitGone()
{
    if (midiIn == nullptr || midiOut == nullptr || ! midiIn->stillConnected() || ! midiOut->stillConnected())
        return true;

    // One listing serves both questions: is any candidate left, and is one of them a stranger.
    const auto candidates = listUnitCandidates();
    return candidates.empty() || anotherUnitAmong (candidates);
}

bool FirmwareManager::anotherUnitAmong (const std::vector<UnitPorts>& candidates)
{
    for (const auto& candidate : candidates)
    {
        if (! candidate.samePortsAs (heldUnit) && ! candidate.isAmong (silentCandidates))
        {
            anotherUnitSeen.store (true);
            return true;
        }
    }
    return false;
}

UnitSearch::Result FirmwareManager::connectToUnit()
{
    closeUnitPorts (midiIn, midiOut);
    auto& service = MidiPortService::current();
    for (const auto& names : {service.getInputNames(), service.getOutputNames()})
        for (const auto& name : names)
            namesSeen.addIfNotAlreadyThere (name);
    auto search = searchForUnit (silentCandidates, [this] { return exitRequested(); });
    if (search.result == UnitSearch::found)
    {
        heldUnit = search.unit;
        // A port that stayed silent beside a unit that answered stays known: a later search
        // that takes the one candidate left asks nothing and so learns nothing about it.
        for (const auto& silent : search.silent)
            if (! silent.isAmong (silentCandidates))
                silentCandidates.push_back (silent);
        anotherUnitSeen.store (false);
        // Listed a moment ago and gone or taken now: as busy as a port that never opened.
        if (! openUnitPorts (search.unit, midiIn, midiOut, this))
            search.result = isUnitPresent() ? UnitSearch::busy : UnitSearch::notFound;
    }
    else if (search.result == UnitSearch::several)
    {
        anotherUnitSeen.store (true);
    }
    lastSearch.store (search.result);
    return search.result;
}

bool FirmwareManager::send (const std::uint8_t* bytes, int size)
{
    if (midiOut == nullptr)
        return true;

    traffic.noteSent (bytes, size);
    const juce::MidiMessage message (bytes, size, 0.0);
    // The worker sends thousands of messages at the unit's pace and its phase watches them, so
    // they go out from the worker itself. Any other thread is the window's or a run's, which a
    // driver must never hold: theirs are handed over, and waited for no longer than the limit.
    if (juce::Thread::getCurrentThread() == this)
    {
        sendStartedAt.store (juce::Time::getMillisecondCounterHiRes());
        midiOut->sendHere (message);
        sendStartedAt.store (0.0);
        return true;
    }

    return midiOut->sendWithin (message, Protocol::sendLimitMs);
}

bool FirmwareManager::sendStalled() const
{
    const auto started = sendStartedAt.load();
    return started > 0.0 && juce::Time::getMillisecondCounterHiRes() - started > Protocol::sendLimitMs;
}

bool FirmwareManager::portStuck() const
{
    return midiOut != nullptr && midiOut->stuck();
}

bool FirmwareManager::isUnitPresent()
{
    auto& service = MidiPortService::current();
    return findUnitPort (service.getInputNames()) >= 0 && findUnitPort (service.getOutputNames()) >= 0;
}

bool FirmwareManager::reopenUnitPorts()
{
    Pacing::sleep (Protocol::beforeReopenMs);
    // Never while a worker that outlived its wait may still use the ports.
    if (isThreadRunning())
        return false;
    collectEndedRun();
    return connectToUnit() == UnitSearch::found;
}

void FirmwareManager::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto* bytes = message.getRawData();
    const auto size = message.getRawDataSize();
    traffic.noteReceived (bytes, size);

    auto matches = [bytes, size] (const Sysex::FixedMessage& fixed)
    { return Sysex::matchesMessage (bytes, size, fixed); };

    // Each reply moves the state on only from the wait it was read in: a reply racing a poll
    // that has already reset the word must not bring back a stale state.
    auto refuse = [this] (std::atomic<int>& state, int waiting, int refused)
    {
        if (state.compare_exchange_strong (waiting, refused))
        {
            trace();
            trace();
        }
    };

    const int waiting = qexState.load();
    auto advance = [this, waiting] (int next, bool traced = true)
    {
        int expected = waiting;
        if (qexState.compare_exchange_strong (expected, next) && traced)
            trace();
    };

    auto refuseQex = [&refuse, this, waiting] { refuse (qexState, waiting, qexRefused); };

    if (transferMode.load() == modeQex)
    {
        switch (waiting)
        {
            case qexAwaitIdentity:
                if (matches (Sysex::identityReplyRunning))
                    advance (qexIdentityRunning);
                else if (matches (Sysex::identityReplyLoader))
                    advance (qexIdentityLoader);
                else
                    refuseQex();
                break;

            case qexAwaitLoaderAck:
                matches (Sysex::enterLoaderAck) ? advance (qexLoaderAcknowledged) : refuseQex();
                break;

            case qexAwaitLoaderIdentity:
                matches (Sysex::identityReplyLoader) ? advance (qexIdentityLoader) : refuseQex();
                break;

            case qexAwaitMap:
                if (Sysex::isMapReply (bytes, size))
                {
                    // The whole reply is in place before the state word announces it.
                    std::copy (bytes, bytes + size, replyBuffer.begin());
                    advance (qexMapReceived);
                }
                else
                {
                    refuseQex();
                }
                break;

            case qexAwaitBeginWriteAck:
                matches (Sysex::beginWriteAck) ? advance (qexBeginWriteAcknowledged) : refuseQex();
                break;

            case qexAwaitDataAck:
                matches (Sysex::dataBlockAck) ? advance (qexDataAcknowledged, false) : refuseQex();
                break;

            case qexDataAcknowledged:
                // An acknowledgement carries no address: one with no chunk awaiting it is a late
                // answer to an earlier try, and from here on acknowledgements could be credited
                // to chunks the unit never wrote.
                if (matches (Sysex::dataBlockAck))
                {
                    lateAckSeen.store (true);
                    refuseQex();
                }
                break;

            default:
                break;
        }
        return;
    }

    if (transferMode.load() == modeDsp && dspAckState.load() == dspAwaitAck)
    {
        trace();
        if (Sysex::isUnitReplyHeader (bytes, size) && bytes[Sysex::dspReplyCodeOffset] == Sysex::dspAckCode)
        {
            int awaiting = dspAwaitAck;
            if (dspAckState.compare_exchange_strong (awaiting, dspIdle))
                trace();
        }
        else
        {
            using Cause = RunFailure::Cause;
            const auto code = Sysex::isUnitReplyHeader (bytes, size) ? bytes[Sysex::dspReplyCodeOffset] : 0;
            noteFailure (code == Sysex::dspErrorCode            ? Cause::dspError
                         : code == Sysex::dspChecksumFailedCode ? Cause::dspChecksum
                                                                : Cause::unexpected,
                         RunFailure::Step::dspEnd);
            refuse (dspAckState, dspAwaitAck, dspRefused);
        }
    }
}

bool FirmwareManager::selectQexImage (QexImage image)
{
    qexImage = std::move (image);
    imageError = qexImage.problem();
    qexImageValid.store (qexImage.isUsable());
    return qexImage.isUsable();
}

bool FirmwareManager::selectDspImage (DspImage image)
{
    dspImage = std::move (image);
    imageError = dspImage.problem();
    dspImageLoaded.store (dspImage.isUsable());
    return dspImage.isUsable();
}

bool FirmwareManager::loadQexImageFile (const juce::File& file)
{
    return selectQexImage (QexImage::fromFile (file));
}

bool FirmwareManager::loadDspImageFile (const juce::File& file)
{
    return selectDspImage (DspImage::fromFile (file));
}

void FirmwareManager::loadBuiltInQexImage()
{
    selectQexImage (QexImage::builtIn());
}

bool FirmwareManager::loadBuiltInDspImage()
{
    return selectDspImage (DspImage::builtIn());
}

int FirmwareManager::pollQexResult()
{
    return pollResult (qexState, qexImageValid);
}

int FirmwareManager::pollDspResult()
{
    return pollResult (dspAckState, dspImageLoaded);
}

int FirmwareManager::pollResult (std::atomic<int>& state, std::atomic<bool>& imageSelected)
{
    if (isThreadRunning())
        return 0;

    // The ports close first, so no reply can arrive after the state words are reset. A
    // handshake that failed leaves them open; every run ends with them closed.
    static_assert ((int) qexIdle == (int) dspIdle, "both state words are idle at the same value");
    closeUnitPorts (midiIn, midiOut);
    const int result = state.load() == qexIdle ? 1 : -1;
    transferMode.store (modeIdle);
    state.store (qexIdle);
    imageSelected.store (false);
    cancelRequested.store (false);
    trace();
    return result;
}

RunFailure FirmwareManager::lastFailure() const
{
    RunFailure failure;
    failure.cause = (RunFailure::Cause) failureCause.load();
    failure.step = (RunFailure::Step) failureStep.load();
    failure.done = failureDone.load();
    failure.total = failureTotal.load();
    return failure;
}

void FirmwareManager::noteFailure (RunFailure::Cause cause, RunFailure::Step step, int done, int total)
{
    int none = (int) RunFailure::Cause::none;
    if (cause == RunFailure::Cause::none || ! failureCause.compare_exchange_strong (none, (int) cause))
        return;
    failureStep.store ((int) step);
    failureDone.store (done);
    failureTotal.store (total);
    failureNotedAt.store (juce::Time::getMillisecondCounter());
}

void FirmwareManager::clearFailure()
{
    failureCause.store ((int) RunFailure::Cause::none);
    failureStep.store ((int) RunFailure::Step::none);
    failureDone.store (0);
    failureTotal.store (0);
    failureNotedAt.store (0);
    runStartedAt.store (juce::Time::getMillisecondCounter());
}

bool FirmwareManager::waitForWorkerToEnd (int limitMs)
{
    return waitForThreadToExit (limitMs);
}

void FirmwareManager::collectEndedRun()
{
    if (isThreadRunning())
        return;
    if (transferMode.load() == modeQex)
        pollQexResult();
    else if (transferMode.load() == modeDsp)
        pollDspResult();
}

void FirmwareManager::pause (int milliseconds)
{
    waitUntil (Pacing::elapsedMilliseconds() + milliseconds);
}

void FirmwareManager::waitUntil (double protocolDeadline)
{
    // Against the deadline, so that the steps add up to exactly the pause, not to the pause and
    // every oversleep.
    constexpr double step = Protocol::deadlineStepMs;
    for (double left = protocolDeadline - Pacing::elapsedMilliseconds(); left > 0.0 && ! exitRequested();
         left = protocolDeadline - Pacing::elapsedMilliseconds())
        Pacing::sleep (std::min (left, step));
}

void FirmwareManager::run()
{
    switch (transferMode.load())
    {
        case modeQex:
            runQexTransfer();
            break;
        case modeDsp:
            runDspTransfer();
            break;
        default:
            break;
    }
}
} // namespace zelvor
