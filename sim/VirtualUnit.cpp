#include "sim/VirtualUnit.h"

#include "link/Pacing.h"
#include "link/SysexCodec.h"
#include "sim/UnitFault.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <set>

namespace zelvor
{
namespace
{
    using Fault = UnitFault::Kind;

    // The ports vanish this long after the enter-loader acknowledgement has gone out.
    constexpr double restartUnplugDelayMs = 10.0;
    constexpr double slowLoaderRestartMs = 8000.0;
    constexpr double blinkMs = 1100.0; // how long a blink keeps the ports out of the listings

    constexpr std::uint8_t dataBlockCommand = 0x7A;

    // The regions the map reply describes. Kept here rather than decoded from the reply, so
    // that a decoding fault on the link's side cannot also bend the unit it is tested against.
    constexpr Sysex::FlashRegion flashRegions[] = {
        {0x00000, 0x10000},
        {0x10000, 0x10000},
        {0x20000, 0x10000},
        {0x30000, 0x10000},
        {0x60000, 0x10000},
        {0xE0000, 0x10000},
    };

    bool isMapped (std::uint32_t address)
    {
        for (const auto& region : flashRegions)
            if (address >= region.start && address - region.start < region.length)
                return true;
        return false;
    }

    bool allMapped (std::uint32_t address, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i)
            if (std::uint64_t{address} + i >= VirtualUnit::flashSize ||
                ! isMapped (address + static_cast<std::uint32_t> (i)))
                return false;
        return true;
    }

    // The loader's refusal of a data block: the acknowledgement with a non-zero status.
    const std::array<std::uint8_t, 10> dataBlockRefusal = []
    {
        std::array<std::uint8_t, 10> m{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x01, 0x7A, 0x00, 0xF7};
        m[8] = Sysex::xorChecksum (m.data(), static_cast<int> (m.size()));
        return m;
    }();

    bool startsWith (const std::uint8_t* data, int size, std::initializer_list<std::uint8_t> head, int offset = 0)
    {
        if (size < offset + static_cast<int> (head.size()))
            return false;
        return std::equal (head.begin(), head.end(), data + offset);
    }

    // Unpacks a data-block message; false for anything a unit would reject as corrupt.
    bool decodeDataBlock (const std::uint8_t* data, int size, std::uint32_t& address, std::vector<std::uint8_t>& bytes)
    {
        if (size < 10 || data[size - 1] != 0xF7 || data[size - 2] != Sysex::xorChecksum (data, size))
            return false;

        const auto* packed = data + 6;
        const int packedSize = size - 8;
        std::vector<std::uint8_t> source;
        source.reserve (static_cast<std::size_t> (packedSize));

        for (int group = 0; group < packedSize; group += 8)
        {
            const auto flags = packed[group];
            const int count = std::min (7, packedSize - group - 1);
            if (count < 1)
                return false; // a flag byte with nothing behind it

            for (int k = 0; k < count; ++k)
            {
                const bool topBit = (flags & (1u << (6 - k))) != 0;
                source.push_back (static_cast<std::uint8_t> (packed[group + 1 + k] | (topBit ? 0x80 : 0x00)));
            }
        }

        if (source.size() < 6)
            return false;

        address = (std::uint32_t{source[0]} << 24) | (std::uint32_t{source[1]} << 16) |
                  (std::uint32_t{source[2]} << 8) | std::uint32_t{source[3]};
        const auto length = static_cast<std::size_t> ((source[4] << 8) | source[5]);
        if (length == 0 || source.size() != 6 + length)
            return false;

        bytes.assign (source.begin() + 6, source.end());
        return true;
    }

    bool imageCheckByteValid (const std::uint8_t* data, int size)
    {
        if (size < 11)
            return false;

        int sum = 0;
        for (int i = 1; i <= 9; ++i)
            sum += data[i];
        return (sum & 0x7F) == 0x7F;
    }
} // namespace

struct VirtualUnit::Impl : std::enable_shared_from_this<Impl>
{
    Impl (VirtualMidiService& s, Options o) : service (s), options (std::move (o)), inLoader (options.startInLoader)
    {
        commandCounts.fill (0);
        if (options.startInLoader)
            for (const auto& region : flashRegions)
                unfinishedRegions.insert (region.start);
    }

    VirtualMidiService& service;
    const Options options;

    mutable std::mutex mutex;

    bool destroyed = false;
    bool plugged = false;
    bool inLoader = false;
    bool restartedIntoLoader = false;
    bool restartPending = false;
    int inputPortId = -1;
    int outputPortId = -1;
    std::uint64_t plugCount = 0; // which plug-in a sink belongs to
    std::uint64_t epoch = 0;     // bumped to cancel the unit's pending timers

    std::vector<std::uint8_t> flashBytes = std::vector<std::uint8_t> (flashSize, 0xFF);
    bool writeEnabled = false;

    std::vector<std::uint8_t> dspBytes;
    bool collectingDsp = false;
    bool dspCheckFailed = false;
    bool dspAcked = false;

    int messages = 0;
    int dataBlocks = 0;
    int badDataBlocks = 0;
    int refused = 0; // loader commands out of place: left unanswered or refused
    std::array<int, 128> commandCounts{};
    bool beginWriteSeen = false;

    Fault fault = Fault::none;
    int faultCount = 0;
    int messagesSinceFault = 0;
    bool identityIgnored = false;
    bool dataAckDropped = false;
    bool lateAckHeld = false;  // late-data-ack: the N-th message's acknowledgement waits for its retry
    bool missNext = false;     // late-data-ack: the message after the retry is lost
    int sessionDataBlocks = 0; // valid data blocks since the last begin-write
    // The loader judges its main firmware by what it received, as a real one must: the regions it
    // erased, and whether the write that erased them finished (went quiet for writeSettleMs
    // while the unit had power). A power-on starts the main firmware when no region is left
    // erased by a write that never finished.
    std::set<std::uint32_t> unfinishedRegions;
    std::set<std::uint32_t> sessionErased;            // regions erased by the write going on
    bool sessionFailed = false;                       // it lost or refused a block: it never finishes
    double lastWriteAt = 0.0;                         // protocol ms of its last data
    std::map<std::uint32_t, int> sessionBlockOrdinal; // distinct addresses since the last begin-write

    bool reply (const std::uint8_t* bytes, int size)
    {
        if (! plugged)
            return false;
        service.deliver (inputPortId, juce::MidiMessage (bytes, size), options.replyLatencyMs);
        return true;
    }

    bool reply (const Sysex::FixedMessage& message)
    {
        return reply (message.bytes, message.size);
    }

    void applyHeldLocked()
    {
        if (! plugged)
            return;
        service.setHeld (inputPortId, fault == Fault::portsHeld);
        service.setHeld (outputPortId, fault == Fault::portsHeld || fault == Fault::outputHeld);
    }

    void plugInLocked()
    {
        if (plugged || destroyed)
            return;

        // The loader enumerates under USB names of its own, so its ports have other names.
        // Each plug is a device of its own to the system, as a USB device that enumerates again.
        const auto thisPlug = ++plugCount;
        const auto device = service.newDevice();
        inputPortId = service.addInputPort (inLoader ? options.loaderPortName : options.inputPortName, device);
        outputPortId = service.addOutputPort (
            inLoader ? options.loaderPortName : options.outputPortName,
            [weak = weak_from_this(), thisPlug] (const juce::MidiMessage& message)
            {
                if (auto self = weak.lock())
                    self->receive (message, thisPlug);
            },
            device);
        plugged = true;
        applyHeldLocked();
    }

    void unplugLocked()
    {
        if (! plugged)
            return;

        // Off the bus, the loader's write ends where it is; one that had gone quiet has finished.
        firmwareWholeLocked();
        writeEnabled = false;

        service.removePort (inputPortId);
        service.removePort (outputPortId);
        inputPortId = outputPortId = -1;
        plugged = false;
    }

    // Runs `step` on the service's thread after the delay unless the unit was unplugged,
    // plugged, power-cycled or destroyed in the meantime.
    template <typename Step>
    void after (double delayMs, Step step)
    {
        service.schedule (delayMs,
                          [weak = weak_from_this(), expected = epoch, step]
                          {
                              if (auto self = weak.lock())
                              {
                                  const std::lock_guard<std::mutex> lock (self->mutex);
                                  if (! self->destroyed && self->epoch == expected)
                                      step (*self);
                              }
                          });
    }

    void startLoaderRestartLocked()
    {
        restartPending = true;
        const auto restartMs = fault == Fault::slowLoaderRestart ? slowLoaderRestartMs : options.restartMs;

        after (options.replyLatencyMs + restartUnplugDelayMs,
               [restartMs] (Impl& unit)
               {
                   unit.unplugLocked();
                   if (unit.fault == Fault::loaderNeverBack)
                       return;
                   unit.after (restartMs,
                               [] (Impl& u)
                               {
                                   u.restartPending = false;
                                   u.inLoader = true;
                                   u.restartedIntoLoader = true;
                                   u.writeEnabled = false;
                                   u.collectingDsp = false;
                                   u.plugInLocked();
                               });
               });
    }

    // Whether a power-on now would start the main firmware.
    bool firmwareWholeLocked()
    {
        if (writeEnabled && ! sessionFailed && ! sessionErased.empty() &&
            Pacing::elapsedMilliseconds() - lastWriteAt >= VirtualUnit::writeSettleMs)
        {
            for (const auto start : sessionErased)
                unfinishedRegions.erase (start);
            sessionErased.clear();
        }
        return unfinishedRegions.empty();
    }

    // Power off at once and back on after the restart time, in the mode the flash dictates.
    void powerOffAndOnLocked()
    {
        ++epoch;
        unplugLocked();
        restartPending = false;
        inLoader = ! firmwareWholeLocked();
        restartedIntoLoader = false;
        writeEnabled = false;
        collectingDsp = false;
        after (options.restartMs, [] (Impl& unit) { unit.plugInLocked(); });
    }

    void receive (const juce::MidiMessage& message, std::uint64_t fromPlug)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (destroyed || ! plugged || fromPlug != plugCount)
            return;

        const auto* data = message.getRawData();
        const auto size = message.getRawDataSize();
        ++messages;
        ++messagesSinceFault;

        // The message still counts and changes state, but the ports go first so that no reply
        // to it can slip out.
        if (fault == Fault::unplugAfter && messagesSinceFault == faultCount)
        {
            ++epoch;
            restartPending = false;
            unplugLocked();
        }

        // The message is lost with the power.
        if (fault == Fault::powerCutAfter && messagesSinceFault == faultCount)
        {
            powerOffAndOnLocked();
            return;
        }

        // Longer than the link's one-second presence checks, so that one of them misses it.
        if (fault == Fault::blinkAfter && messagesSinceFault == faultCount)
        {
            service.hideFromListings (inputPortId, blinkMs);
            service.hideFromListings (outputPortId, blinkMs);
        }

        if (startsWith (data, size, {0xF0, 0x06}))
            handleQex (data, size);
        else if (startsWith (data, size, {0xF0, 0x00, 0x00, 0x10}))
            handleDsp (data, size);
        else if (collectingDsp)
            dspBytes.insert (dspBytes.end(), data, data + size);
    }

    void handleQex (const std::uint8_t* data, int size)
    {
        if (collectingDsp)
            dspBytes.insert (dspBytes.end(), data, data + size);

        if (size > 5)
            ++commandCounts[static_cast<std::size_t> (data[5] & 0x7F)];

        if (Sysex::matchesMessage (data, size, Sysex::identityRequest))
            handleIdentity();
        else if (Sysex::matchesMessage (data, size, Sysex::enterLoaderRequest))
            handleEnterLoader();
        else if (Sysex::matchesMessage (data, size, Sysex::mapRequest))
            handleMapRequest();
        else if (Sysex::matchesMessage (data, size, Sysex::beginWriteRequest))
            handleBeginWrite();
        else if (startsWith (data, size, {0x00, 0x1B, 0x02, dataBlockCommand}, 2))
            handleDataBlock (data, size);
    }

    void handleIdentity()
    {
        if (fault == Fault::noIdentityReply && ! identityIgnored)
        {
            identityIgnored = true;
            return;
        }

        if (fault == Fault::noLoaderIdentityReply && inLoader && restartedIntoLoader)
            return;

        if (fault == Fault::wrongIdentityReply)
        {
            std::array<std::uint8_t, 13> wrong{};
            std::copy (
                Sysex::identityReplyRunning.bytes, Sysex::identityReplyRunning.bytes + wrong.size(), wrong.begin());
            wrong[10] = 0x02;
            wrong[11] = Sysex::xorChecksum (wrong.data(), static_cast<int> (wrong.size()));
            reply (wrong.data(), static_cast<int> (wrong.size()));
            return;
        }

        reply (inLoader ? Sysex::identityReplyLoader : Sysex::identityReplyRunning);
    }

    void handleEnterLoader()
    {
        if (fault == Fault::noLoaderAck)
            return;

        // The loader acknowledges a repeated request without restarting.
        if (reply (Sysex::enterLoaderAck) && ! inLoader && ! restartPending)
            startLoaderRestartLocked();
    }

    // The running firmware does not know the loader's commands and leaves them unanswered.
    bool refusedOutsideLoader()
    {
        if (inLoader)
            return false;
        ++refused;
        return true;
    }

    void handleMapRequest()
    {
        if (refusedOutsideLoader() || fault == Fault::noMapReply)
            return;

        if (fault == Fault::wrongMapReply)
        {
            reply (Sysex::beginWriteAck);
            return;
        }

        if (fault == Fault::clockDuringWait)
        {
            const std::uint8_t clock = 0xF8;
            reply (&clock, 1); // same due time, queued first
        }

        reply (fault == Fault::variantMapReply ? Sysex::mapReplyVariant : Sysex::mapReply);
    }

    void handleBeginWrite()
    {
        beginWriteSeen = true;
        if (refusedOutsideLoader() || fault == Fault::noBeginWriteAck)
            return;

        // A write before this one that went quiet has finished; nothing is erased yet.
        firmwareWholeLocked();
        writeEnabled = true;
        sessionFailed = false;
        sessionErased.clear();
        sessionDataBlocks = 0;
        sessionBlockOrdinal.clear();
        dataAckDropped = false;
        lateAckHeld = missNext = false;
        reply (Sysex::beginWriteAck);
    }

    void handleDataBlock (const std::uint8_t* data, int size)
    {
        ++dataBlocks;
        if (refusedOutsideLoader())
            return;

        std::uint32_t address = 0;
        std::vector<std::uint8_t> bytes;
        if (! decodeDataBlock (data, size, address, bytes))
        {
            ++badDataBlocks;
            return;
        }

        ++sessionDataBlocks;
        if (fault == Fault::lateDataAck && missNext)
        {
            missNext = false;
            sessionFailed = true;
            return;
        }
        const auto ordinal =
            sessionBlockOrdinal.emplace (address, static_cast<int> (sessionBlockOrdinal.size()) + 1).first->second;

        // A block the unit did not take leaves its write unfinished, whatever comes after it.
        if (fault == Fault::noDataAck && ordinal == faultCount)
        {
            sessionFailed = true;
            return;
        }

        if (fault == Fault::refuseDataBlock && ordinal == faultCount)
        {
            sessionFailed = true;
            reply (Sysex::beginWriteAck);
            return;
        }

        // The loader writes only into an opened write and only inside its map.
        if (! writeEnabled || ! allMapped (address, bytes.size()))
        {
            ++refused;
            sessionFailed = sessionFailed || writeEnabled;
            reply (dataBlockRefusal.data(), static_cast<int> (dataBlockRefusal.size()));
            return;
        }

        // The first data of a write inside a region erases that region, and the link's first chunk of
        // a block always comes, even an erased one: the erased chunks it passes over after it are
        // erased already.
        for (const auto& region : flashRegions)
        {
            const auto regionEnd = std::min<std::uint64_t> (std::uint64_t{region.start} + region.length, flashSize);
            if (address >= regionEnd || std::uint64_t{address} + bytes.size() <= region.start ||
                ! sessionErased.insert (region.start).second)
                continue;
            unfinishedRegions.insert (region.start);
            std::fill (flashBytes.begin() + region.start,
                       flashBytes.begin() + static_cast<std::ptrdiff_t> (regionEnd),
                       std::uint8_t{0xFF});
        }
        std::copy (bytes.begin(), bytes.end(), flashBytes.begin() + static_cast<std::ptrdiff_t> (address));
        lastWriteAt = Pacing::elapsedMilliseconds();

        // The block is written; only its acknowledgement goes missing.
        if (fault == Fault::dropDataAckOnce && ! dataAckDropped && sessionDataBlocks == faultCount)
        {
            dataAckDropped = true;
            return;
        }

        if (fault == Fault::lateDataAck && sessionDataBlocks == faultCount)
        {
            lateAckHeld = true;
            return;
        }
        if (fault == Fault::lateDataAck && lateAckHeld)
        {
            // The first try's acknowledgement at last, then the retry's.
            lateAckHeld = false;
            missNext = true;
            reply (Sysex::dataBlockAck);
            after (options.lateRetryAckMs, [] (Impl& unit) { unit.reply (Sysex::dataBlockAck); });
            return;
        }

        reply (Sysex::dataBlockAck);
    }

    void handleDsp (const std::uint8_t* data, int size)
    {
        // The loader knows the flash commands, not the signal processor.
        if (inLoader && ! options.loaderTakesDsp)
            return;

        if (Sysex::matchesMessage (data, size, Sysex::dspStartMessage))
        {
            // A new transfer replaces the record of the previous one.
            dspBytes.clear();
            collectingDsp = true;
            dspCheckFailed = false;
            dspAcked = false;
            return;
        }

        if (Sysex::matchesMessage (data, size, Sysex::dspEndMessage))
        {
            const bool wasCollecting = collectingDsp;
            collectingDsp = false;
            if (fault == Fault::noDspAck)
                return;

            std::uint8_t code = Sysex::dspAckCode;
            if (! wasCollecting || fault == Fault::dspEndErr)
                code = Sysex::dspErrorCode; // an end without a start is an error, not a success
            else if (dspCheckFailed || fault == Fault::dspEndChecksumFailed)
                code = Sysex::dspChecksumFailedCode;

            const std::uint8_t answer[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, code, 0x00, 0xF7};
            if (reply (answer, static_cast<int> (sizeof (answer))) && code == Sysex::dspAckCode)
                dspAcked = true;
            return;
        }

        if (! collectingDsp)
            return;

        dspBytes.insert (dspBytes.end(), data, data + size);
        if (startsWith (data, size, {0x00, 0x3F, 0x00, 0x59}, 4) && ! imageCheckByteValid (data, size))
            dspCheckFailed = true;
    }
};

VirtualUnit::VirtualUnit (VirtualMidiService& service, Options options)
    : impl (std::make_shared<Impl> (service, std::move (options)))
{
    if (impl->options.pluggedIn)
        plugIn();
}

VirtualUnit::VirtualUnit (VirtualMidiService& service) : VirtualUnit (service, Options{})
{
}

VirtualUnit::~VirtualUnit()
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    ++impl->epoch;
    impl->unplugLocked();
    impl->destroyed = true;
}

void VirtualUnit::plugIn()
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    ++impl->epoch;
    impl->restartPending = false;
    impl->plugInLocked();
}

void VirtualUnit::unplug()
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    ++impl->epoch;
    impl->restartPending = false;
    impl->unplugLocked();
}

void VirtualUnit::powerCycle()
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    impl->powerOffAndOnLocked();
}

bool VirtualUnit::isPluggedIn() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->plugged;
}

bool VirtualUnit::isInLoader() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->inLoader;
}

bool VirtualUnit::mainFirmwareValid() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->firmwareWholeLocked();
}

bool VirtualUnit::setFault (const juce::String& nameAndCount)
{
    const auto chosen = UnitFault::parse (nameAndCount);
    if (! chosen)
        return false;

    const std::lock_guard<std::mutex> lock (impl->mutex);
    impl->fault = chosen->kind;
    impl->faultCount = chosen->count;
    impl->messagesSinceFault = 0;
    impl->identityIgnored = false;
    impl->dataAckDropped = false;
    impl->sessionDataBlocks = 0;
    impl->sessionBlockOrdinal.clear();
    impl->applyHeldLocked();
    return true;
}

std::vector<std::uint8_t> VirtualUnit::flash() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->flashBytes;
}

std::vector<std::uint8_t> VirtualUnit::dspReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->dspBytes;
}

int VirtualUnit::dataBlocksReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->dataBlocks;
}

int VirtualUnit::messagesReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->messages;
}

int VirtualUnit::countReceived (std::uint8_t qexCommand) const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return qexCommand < 0x80 ? impl->commandCounts[qexCommand] : 0;
}

bool VirtualUnit::beginWriteReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->beginWriteSeen;
}

bool VirtualUnit::dspEndAcknowledged() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->dspAcked;
}

int VirtualUnit::refusedReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->refused;
}

int VirtualUnit::badDataBlocksReceived() const
{
    const std::lock_guard<std::mutex> lock (impl->mutex);
    return impl->badDataBlocks;
}
} // namespace zelvor
