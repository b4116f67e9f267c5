#include "link/FirmwareManager.h"

#include "link/Pacing.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <algorithm>

namespace zelvor
{
using namespace Protocol;

bool FirmwareManager::waitForQexState (int expected, int alsoBeforeSleep)
{
    // A cancel that lands in the same step as the reply still wins: the caller sends nothing more.
    for (int sleeps = 0; sleeps < handshakeSleeps; ++sleeps)
    {
        if (qexState.load() == alsoBeforeSleep)
            return ! exitRequested();

        if (exitRequested())
            return false;

        Pacing::sleep (handshakeStepMs);

        if (qexState.load() == expected)
            return ! exitRequested();
    }

    trace();
    return false;
}

bool FirmwareManager::sendRequest (int awaitState, const std::uint8_t* bytes, int size)
{
    if (exitRequested())
    {
        // Whatever the handshake had reached, a cancelled run must not poll as a success.
        qexState.store (qexIncomplete);
        return false;
    }

    qexState.store (awaitState);
    if (! send (bytes, size))
        return false;
    trace();
    return true;
}

RunFailure::Cause FirmwareManager::causeOfNoReply()
{
    using Cause = RunFailure::Cause;
    if (exitRequested())
        return Cause::cancelled;
    if (portStuck())
        return Cause::sendStalled;
    if (unitGone())
        return anotherUnitSeen.load() ? Cause::anotherUnit : Cause::unitGone;
    return qexState.load() == qexRefused ? Cause::unexpected : Cause::noAnswer;
}

bool FirmwareManager::askUnit (int awaitState, const Sysex::FixedMessage& request, int expected, RunFailure::Step step)
{
    const int alsoBeforeSleep = expected == qexIdentityRunning ? qexIdentityLoader : -100;
    if (sendRequest (awaitState, request.bytes, request.size) && waitForQexState (expected, alsoBeforeSleep))
        return true;
    noteFailure (causeOfNoReply(), step);
    return false;
}

FirmwareManager::UnitMode FirmwareManager::askUnitMode()
{
    if (isThreadRunning() || ! isUnitPresent() || qexState.load() != qexIdle || dspAckState.load() != dspIdle ||
        transferMode.load() != modeIdle || midiIn == nullptr || midiOut == nullptr)
        return UnitMode::unknown;

    transferMode.store (modeQex);
    midiIn->start();
    auto mode = UnitMode::unknown;
    if (sendRequest (qexAwaitIdentity, Sysex::identityRequest.bytes, Sysex::identityRequest.size) &&
        waitForQexState (qexIdentityRunning, qexIdentityLoader))
        mode = qexState.load() == qexIdentityLoader ? UnitMode::loader : UnitMode::running;

    // Idle again: a reply that comes late finds no wait and is ignored.
    transferMode.store (modeIdle);
    qexState.store (qexIdle);
    if (mode != UnitMode::unknown)
        modeLastKnown.store ((int) mode);
    return mode;
}

FirmwareManager::UnitMode FirmwareManager::lastKnownMode() const
{
    return (UnitMode) modeLastKnown.load();
}

bool FirmwareManager::startQexUpdate()
{
    // The unit only ever answers with the one map the link accepts, so an image that does not
    // fit it is refused here, before the unit is sent into its loader.
    if (isThreadRunning() || ! isUnitPresent() || qexState.load() != qexIdle || dspAckState.load() != dspIdle ||
        midiIn == nullptr || ! qexImageValid.load() || ! qexImage.isUsable())
        return false;

    replyBuffer.fill (0);
    lateAckSeen.store (false);
    clearFailure();
    transferMode.store (modeQex);
    midiIn->start();
    overallProgress.store (0.0);

    using Step = RunFailure::Step;
    if (! askUnit (qexAwaitIdentity, Sysex::identityRequest, qexIdentityRunning, Step::identity))
        return false;

    const bool wasRunning = qexState.load() == qexIdentityRunning;
    modeLastKnown.store ((int) (wasRunning ? UnitMode::running : UnitMode::loader));
    if (wasRunning)
    {
        if (! askUnit (qexAwaitLoaderAck, Sysex::enterLoaderRequest, qexLoaderAcknowledged, Step::loaderSwitch))
            return false;
        modeLastKnown.store ((int) UnitMode::loader);

        // The unit restarts into its loader; its ports go away and come back.
        closeUnitPorts (midiIn, midiOut);
        pause (loaderRestartMs);
        if (exitRequested())
            return noteFailure (RunFailure::Cause::cancelled, Step::loaderIdentity), false;
        // The loader must be the only unit listed: with another one beside it nothing tells
        // which of them restarted.
        switch (connectToUnit())
        {
            case UnitSearch::found:
                break;
            case UnitSearch::several:
                return noteFailure (RunFailure::Cause::anotherUnit, Step::loaderIdentity), false;
            case UnitSearch::busy:
                return noteFailure (RunFailure::Cause::portsHeld, Step::loaderIdentity), false;
            case UnitSearch::notFound:
                return noteFailure (RunFailure::Cause::loaderNotBack, Step::loaderIdentity), false;
        }

        if (! askUnit (qexAwaitLoaderIdentity, Sysex::identityRequest, qexIdentityLoader, Step::loaderIdentity))
            return false;
    }

    if (! askUnit (qexAwaitMap, Sysex::mapRequest, qexMapReceived, Step::map))
        return false;

    // Checked again against the map the unit sent, before it is told to start writing, so a
    // unit never begins a write for an image that is then refused.
    const auto map = Sysex::flashMapOfReply (replyBuffer.data());
    if (map[0] != 0x00 || ! qexImage.fits (map))
        return noteFailure (RunFailure::Cause::mapUnusable, Step::map), false;

    if (! askUnit (qexAwaitBeginWriteAck, Sysex::beginWriteRequest, qexBeginWriteAcknowledged, Step::beginWrite))
        return false;

    // A worker that did not start is a refused start, never a transfer that wrote nothing.
    if (exitRequested() || ! startWorker())
    {
        noteFailure (exitRequested() ? RunFailure::Cause::cancelled : RunFailure::Cause::none, Step::beginWrite);
        qexState.store (qexIncomplete);
        return false;
    }
    return true;
}

void FirmwareManager::runQexTransfer()
{
    if (exitRequested())
        return;

    bool incomplete = false;
    bool gone = false;
    std::uint8_t workArea[Sysex::dataBlockWorkAreaSize];
    const auto& blocks = qexImage.blocks();
    const auto blockCount = blocks.size();
    const auto blocksToSend = std::min (blockCount, (size_t) maxBlocksSent);
    // The unit counts each data-block message as a block: so does what the user is told. An
    // erased chunk after a block's first is never sent.
    auto isErased = [] (const std::uint8_t* chunk, std::uint32_t size)
    { return std::all_of (chunk, chunk + size, [] (std::uint8_t b) { return b == 0xFF; }); };
    int messagesDone = 0;
    int messagesInAll = 0;
    for (size_t i = 0; i < blocksToSend; ++i)
        for (std::uint32_t offset = 0; offset < blocks[i].length; offset += chunkSize)
            if (offset == 0 || ! isErased (blocks[i].data.data() + offset,
                                           std::min<std::uint32_t> (chunkSize, blocks[i].length - offset)))
                ++messagesInAll;

    for (size_t i = 0; i < blocksToSend && qexState.load() > 0 && ! gone; ++i)
    {
        const auto& block = blocks[i];
        std::uint32_t address = block.address;
        std::uint32_t remaining = block.length;
        const std::uint8_t* position = block.data.data();
        bool acknowledgedOnce = false;

        while (remaining > 0 && qexState.load() > 0)
        {
            const int size = (int) std::min<std::uint32_t> (remaining, chunkSize);
            const bool erased = isErased (position, (std::uint32_t) size);

            // An erased chunk needs no writing once the block has been opened by a first one.
            // Any other chunk counts as written only on an acknowledgement that arrived after it
            // was sent: the state word may still hold the previous chunk's.
            bool written = erased && acknowledgedOnce;
            const bool sent = ! written;
            if (! written)
            {
                const int length = Sysex::buildDataBlockMessage (position, address, size, workArea);

                for (int attempt = 0; attempt < triesPerChunk && ! exitRequested() && ! gone; ++attempt)
                {
                    // A unit that has gone, even for a moment, may have missed this chunk: the
                    // transfer ends as failed rather than wait out every try of every block.
                    if (unitGone())
                    {
                        gone = true;
                        break;
                    }
                    // A late acknowledgement, also one that came in while the presence was checked.
                    if (lateAckSeen.load())
                        break;

                    qexState.store (qexAwaitDataAck);
                    send (workArea, length);

                    int sleeps = 0;
                    do
                    {
                        Pacing::sleep (qexAckStepMs);
                        ++sleeps;
                        if (sleeps % unitCheckSteps == 0 && unitGone())
                            gone = true;
                    } while (! gone && qexState.load() != qexDataAcknowledged && ! exitRequested() &&
                             ! lateAckSeen.load() && sleeps < qexAckSleeps);

                    written = qexState.load() == qexDataAcknowledged;
                    if (written)
                    {
                        // The answer may have been the earlier try's, late; the retry's own then
                        // follows, and must not be taken for the next chunk's.
                        if (attempt > 0)
                            pause (afterRetriedAckMs);
                        break;
                    }
                    if (sleeps >= qexAckSleeps)
                        trace();
                }
            }

            // After an exit request nothing more is sent, and the image counts as unwritten.
            if (! written || gone || exitRequested() || lateAckSeen.load())
            {
                incomplete = true;
                break;
            }

            acknowledgedOnce = true;
            if (sent && ! incomplete)
                ++messagesDone; // up to the first one that failed
            pause (pauseAfterAckMs);

            address += (std::uint32_t) size;
            position += size;
            remaining -= (std::uint32_t) size;
            const double withinBlock = (double) (block.length - remaining) / (double) block.length;
            overallProgress.store (std::min (0.99, ((double) i + withinBlock) / (double) blockCount));
        }

        if (exitRequested() || gone)
            break;
    }

    // A cancelled run never counts as written, wherever the request found it.
    incomplete = incomplete || gone || exitRequested() || lateAckSeen.load();
    if (incomplete)
    {
        using Cause = RunFailure::Cause;
        auto cause = Cause::noAnswer;
        if (exitRequested())
            cause = Cause::cancelled;
        else if (gone)
            cause = anotherUnitSeen.load() ? Cause::anotherUnit : Cause::unitGone;
        else if (lateAckSeen.load())
            cause = Cause::lateAnswer;
        else if (qexState.load() == qexRefused)
            cause = Cause::unexpected;
        noteFailure (cause, RunFailure::Step::blocks, messagesDone, messagesInAll);
    }

    trace();

    // The unit is given time to finish its last write before its ports close; a unit that has
    // gone needs none.
    if (! gone)
        pause (settleBeforeCloseMs);
    closeUnitPorts (midiIn, midiOut);
    if (! gone)
        pause (settleAfterCloseMs);

    if (qexState.load() > 0)
        qexState.store (incomplete ? qexIncomplete : qexIdle);
    if (qexState.load() == qexIdle)
        modeLastKnown.store ((int) UnitMode::unknown);
}
} // namespace zelvor
