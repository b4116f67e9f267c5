#include "link/FirmwareManager.h"

#include "link/Pacing.h"
#include "link/SysexCodec.h"

namespace zelvor
{
FirmwareManager::FirmwareManager()
    : juce::Thread ("FirmwareManager")
{
    addListener (this);
    openUnitPorts (midiIn, midiOut, this);
}

FirmwareManager::~FirmwareManager()
{
    // Every pause of the worker gives way to an exit request within one short poll step, so
    // the worker ends well inside this grace time and is never killed.
    stopThread (10000);
    removeListener (this);
    qexImageStream = nullptr;
    dspImageStream = nullptr;
    imageBlocks.clear();
    closeUnitPorts (midiIn, midiOut);
}

void FirmwareManager::exitSignalSent()
{
    cancelRequested.store (true);
}

bool FirmwareManager::exitRequested() const
{
    return cancelRequested.load();
}

void FirmwareManager::trace()
{
    ++traceCount;
    juce::Logger::outputDebugString ("DBG");
}

void FirmwareManager::send (const std::uint8_t* bytes, int size)
{
    if (midiOut != nullptr)
        midiOut->sendMessageNow (juce::MidiMessage (bytes, size, 0.0));
}

bool FirmwareManager::isUnitPresent()
{
    auto& service = MidiPortService::current();
    return findUnitPort (service.getInputNames()) >= 0 && findUnitPort (service.getOutputNames()) >= 0;
}

bool FirmwareManager::reopenUnitPorts()
{
    Pacing::sleep (2000);
    closeUnitPorts (midiIn, midiOut);
    return openUnitPorts (midiIn, midiOut, this);
}

void FirmwareManager::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto* bytes = message.getRawData();
    const auto size = message.getRawDataSize();

    auto matches = [bytes, size] (const Sysex::FixedMessage& fixed)
    {
        return Sysex::matchesMessage (bytes, size, fixed);
    };

    auto refuse = [this] (std::atomic<int>& state)
    {
        state.store (qexRefused);
        trace();
        trace();
    };

    auto advance = [this] (int next, bool traced = true)
    {
        qexState.store (next);
        if (traced)
            trace();
    };

    if (transferMode.load() == modeQex)
    {
        switch (qexState.load())
        {
            case qexAwaitIdentity:
                if (matches (Sysex::identityReplyRunning))
                    advance (qexIdentityRunning);
                else if (matches (Sysex::identityReplyLoader))
                    advance (qexIdentityLoader);
                else
                    refuse (qexState);
                break;

            case qexAwaitLoaderAck:
                matches (Sysex::enterLoaderAck) ? advance (qexLoaderAcknowledged) : refuse (qexState);
                break;

            case qexAwaitLoaderIdentity:
                matches (Sysex::identityReplyLoader) ? advance (qexIdentityLoader) : refuse (qexState);
                break;

            case qexAwaitMap:
                if (matches (Sysex::mapReply))
                {
                    // The whole reply is in place before the state word announces it.
                    std::copy (bytes, bytes + size, replyBuffer.begin());
                    advance (qexMapReceived);
                }
                else
                {
                    refuse (qexState);
                }
                break;

            case qexAwaitBeginWriteAck:
                matches (Sysex::beginWriteAck) ? advance (qexBeginWriteAcknowledged) : refuse (qexState);
                break;

            case qexAwaitDataAck:
                matches (Sysex::dataBlockAck) ? advance (qexDataAcknowledged, false) : refuse (qexState);
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
            dspAckState.store (dspIdle);
            trace();
        }
        else
        {
            refuse (dspAckState);
        }
    }
}

int FirmwareManager::pollQexResult()
{
    if (isThreadRunning())
        return 0;

    const int result = qexState.load() == qexIdle ? 1 : -1;
    transferMode.store (modeIdle);
    qexState.store (qexIdle);
    qexImageValid.store (false);
    // A handshake that failed leaves the ports open; every run ends with them closed.
    closeUnitPorts (midiIn, midiOut);
    trace();
    return result;
}

int FirmwareManager::pollDspResult()
{
    if (isThreadRunning())
        return 0;

    const int result = dspAckState.load() == dspIdle ? 1 : -1;
    transferMode.store (modeIdle);
    dspAckState.store (dspIdle);
    dspImageLoaded.store (false);
    closeUnitPorts (midiIn, midiOut);
    trace();
    return result;
}

void FirmwareManager::waitForWorkerToEnd()
{
    waitForThreadToExit (-1);
}

void FirmwareManager::workerPause (int milliseconds)
{
    // In steps short enough that an exit request is noticed at once; the total is unchanged.
    constexpr int step = 20;
    while (milliseconds > 0 && ! exitRequested())
    {
        const int now = std::min (step, milliseconds);
        Pacing::sleep (now);
        milliseconds -= now;
    }
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
