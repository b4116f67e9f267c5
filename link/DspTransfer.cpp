#include "link/FirmwareManager.h"

#include "link/DspMessageReader.h"
#include "link/Pacing.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

namespace zelvor
{
using namespace Protocol;

bool FirmwareManager::startDspUpdate()
{
    // An image that the loaders would refuse is refused here too, before the start message.
    if (isThreadRunning() || ! isUnitPresent() || qexState.load() != qexIdle || dspAckState.load() != dspIdle ||
        ! dspImageLoaded.load() || ! dspImage.isUsable() || midiIn == nullptr)
        return false;

    clearFailure();
    // From here on a cancel leaves the run failed, not idle: the poll must not read it as done.
    if (exitRequested())
    {
        noteFailure (RunFailure::Cause::cancelled);
        dspAckState.store (dspIncomplete);
        return false;
    }

    midiIn->start();
    if (! send (Sysex::dspStartMessage.bytes, Sysex::dspStartMessage.size))
    {
        noteFailure (RunFailure::Cause::sendStalled, RunFailure::Step::dspImage);
        dspAckState.store (dspIncomplete);
        return false;
    }

    pause (afterStartMessageMs);
    trace();
    if (exitRequested())
    {
        noteFailure (RunFailure::Cause::cancelled, RunFailure::Step::dspImage);
        dspAckState.store (dspIncomplete);
        return false;
    }

    overallProgress.store (0.0);
    transferMode.store (modeDsp);

    // A worker that did not start is a refused start, never a replay that went through.
    if (! startWorker())
    {
        dspAckState.store (dspIncomplete);
        return false;
    }
    return true;
}

void FirmwareManager::runDspTransfer()
{
    const auto image = dspImage.read();
    auto& stream = *image;
    const auto totalLength = (double) stream.getTotalLength();
    std::uint8_t buffer[dspMessageBufferSize];
    bool wholeImageSent = false;
    const bool wholeMessagesOnly = MidiPortService::current().sendsWholeMessagesOnly();

    // The protocol time before which nothing more may go out. Each gap is counted from the end
    // of the send before it, with the checks and the reading of the next message inside it, so
    // the unit never gets a shorter pause and the machine's oversleeps do not add up.
    double quietUntil = Pacing::elapsedMilliseconds();
    auto sendThenKeepQuiet = [this, &quietUntil] (const std::uint8_t* bytes, int size, int quietMs)
    {
        waitUntil (quietUntil);
        if (exitRequested())
            return false;
        send (bytes, size);
        quietUntil = Pacing::elapsedMilliseconds() + quietMs;
        return true;
    };

    if (! exitRequested())
    {
        stream.setPosition (0);

        while (true)
        {
            if (stream.isExhausted())
            {
                wholeImageSent = true;
                break;
            }

            // Ports that are no longer the unit's (it restarted, or another unit joined) end the
            // replay at once rather than three minutes later.
            if (unitGone() || exitRequested())
                break;

            int size = 0;
            const auto read = readDspMessage (stream, buffer, dspMessageBufferSize, size);
            if (read == DspReadResult::tooLong)
                break;
            if (read == DspReadResult::endOfStream)
            {
                wholeImageSent = true;
                break;
            }

            const auto pieces = dspPieceSizes (size, dspPieceSize);
            if (wholeMessagesOnly)
            {
                // Sent whole, with the pause its pieces would have taken, so the pace is kept.
                if (! sendThenKeepQuiet (buffer, size, pieceGapMs * (int) pieces.size() + progressStepMs))
                    break;
            }
            else
            {
                int offset = 0;
                for (size_t i = 0; i < pieces.size(); ++i)
                {
                    const bool last = i + 1 == pieces.size();
                    if (! sendThenKeepQuiet (buffer + offset, pieces[i], pieceGapMs + (last ? progressStepMs : 0)))
                        break;
                    offset += pieces[i];
                }
            }

            overallProgress.store ((double) stream.getPosition() / (1.1 * totalLength));
        }
    }

    // Why the replay or the wait for its answer ended short of a success.
    auto noteStop = [this, &stream, totalLength] (RunFailure::Step step)
    { noteFailure (causeOfNoReply(), step, (int) stream.getPosition(), (int) totalLength); };

    // A replay cut short (unit gone, a port closed, cancelled) must not read as a success.
    if (! wholeImageSent || exitRequested())
    {
        noteStop (RunFailure::Step::dspImage);
        dspAckState.store (dspIncomplete);
        return;
    }

    overallProgress.store (0.96);
    waitUntil (quietUntil + beforeEndMessageMs);
    if (exitRequested() || unitGone())
    {
        noteStop (RunFailure::Step::dspEnd);
        dspAckState.store (dspIncomplete);
        return;
    }

    // The wait state is set before the end message goes out, so an early "ACK" is not missed.
    dspAckState.store (dspAwaitAck);
    send (Sysex::dspEndMessage.bytes, Sysex::dspEndMessage.size);
    trace();

    // A unit that has gone cannot answer, so the wait ends with it.
    int sleeps = 0;
    do
    {
        pause (dspAckStepMs);
        ++sleeps;
    } while (! exitRequested() && dspAckState.load() != dspIdle && sleeps < dspAckSleeps && ! unitGone());

    if (dspAckState.load() != dspIdle && sleeps >= dspAckSleeps)
        trace();
    if (dspAckState.load() != dspIdle)
        noteStop (RunFailure::Step::dspEnd); // a refusal was noted as it came in, and stands
}
} // namespace zelvor
