#include "link/Pacing.h"
#include "link/SysexCodec.h"
#include "sim/UnitFault.h"
#include "sim/VirtualMidiService.h"
#include "sim/VirtualUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

using namespace zelvor;

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf (const Sysex::FixedMessage& m)
{
    return Bytes (m.bytes, m.bytes + m.size);
}

template <typename Predicate>
bool waitUntil (Predicate predicate, double protocolMs = 20000.0)
{
    const auto deadline = Pacing::elapsedMilliseconds() + protocolMs;
    while (! predicate())
    {
        if (Pacing::elapsedMilliseconds() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return true;
}

// A minimal host: opens the first ports whose names contain the unit's word, collects what
// arrives and sends raw bytes.
class FakeHost : public juce::MidiInputCallback
{
public:
    explicit FakeHost (VirtualMidiService& s) : service (s)
    {
    }
    ~FakeHost() override
    {
        close();
    }

    bool open()
    {
        close();
        auto find = [] (const juce::StringArray& names)
        {
            for (int i = 0; i < names.size(); ++i)
                if (names[i].containsIgnoreCase ("Zelvor"))
                    return i;
            return -1;
        };
        input = service.openInput (find (service.getInputNames()), this);
        output = service.openOutput (find (service.getOutputNames()));
        if (input != nullptr)
            input->start();
        return input != nullptr && output != nullptr;
    }

    void close()
    {
        if (input != nullptr)
            input->stop();
        input.reset();
        output.reset();
    }

    void send (const std::uint8_t* data, int size)
    {
        output->sendMessageNow (juce::MidiMessage (data, size));
    }
    void send (const Bytes& b)
    {
        send (b.data(), static_cast<int> (b.size()));
    }
    void send (const Sysex::FixedMessage& m)
    {
        send (m.bytes, m.size);
    }

    std::optional<Bytes> next (double protocolMs = 20000.0)
    {
        std::unique_lock<std::mutex> lock (mutex);
        const auto real = std::chrono::duration<double, std::milli> (protocolMs / Pacing::getSpeed());
        if (! arrived.wait_for (lock, real, [this] { return ! received.empty(); }))
            return std::nullopt;
        auto front = std::move (received.front());
        received.pop_front();
        return front;
    }

    // Lets every reply already owed fall due and be delivered, then reports whether any came.
    bool nothingArrives()
    {
        Pacing::sleep (20);
        service.waitUntilIdle();
        const std::lock_guard<std::mutex> lock (mutex);
        return received.empty();
    }

    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            received.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
        }
        arrived.notify_all();
    }

    VirtualMidiService& service;
    std::unique_ptr<MidiInputPort> input;
    std::unique_ptr<MidiOutputPort> output;

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Bytes> received;
};

class SimFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Pacing::setSpeed (50.0);
    }
    void TearDown() override
    {
        Pacing::setSpeed (1.0);
    }

    VirtualMidiService service;
};

using VirtualMidiServiceTest = SimFixture;
using VirtualUnitTest = SimFixture;

Bytes dataBlock (std::uint32_t address, const Bytes& data)
{
    std::uint8_t work[Sysex::dataBlockWorkAreaSize];
    const int size = Sysex::buildDataBlockMessage (data.data(), address, static_cast<int> (data.size()), work);
    return Bytes (work, work + size);
}

Bytes dspImageMessage (std::uint8_t type, std::uint8_t check, int payload)
{
    Bytes m{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, type, check};
    for (int i = 0; i < payload; ++i)
        m.push_back (static_cast<std::uint8_t> ((i * 7) & 0x7F));
    m.push_back (0xF7);
    return m;
}

Bytes dspReply (std::uint8_t code)
{
    return {0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, code, 0x00, 0xF7};
}

Bytes dataBlockRefusal()
{
    Bytes m{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x01, 0x7A, 0x00, 0xF7};
    m[8] = Sysex::xorChecksum (m.data(), 10);
    return m;
}

VirtualUnit::Options inLoader()
{
    VirtualUnit::Options options;
    options.startInLoader = true;
    return options;
}
} // namespace

TEST_F (VirtualMidiServiceTest, ListsPortsInOrderAndRefusesHeldOrRemovedOnes)
{
    FakeHost host (service);
    const int a = service.addInputPort ("A");
    const int b = service.addInputPort ("B");
    const int out = service.addOutputPort ("Out", nullptr);
    EXPECT_EQ (service.getInputNames(), juce::StringArray ({"A", "B"}));

    service.setHeld (b, true);
    service.setHeld (out, true);
    EXPECT_EQ (service.getInputNames().size(), 2); // held ports stay listed
    EXPECT_EQ (service.openInput (1, &host), nullptr);
    EXPECT_EQ (service.openOutput (0), nullptr);
    EXPECT_NE (service.openInput (0, &host), nullptr);
    EXPECT_EQ (service.openInput (2, &host), nullptr);

    service.removePort (a);
    service.addInputPort ("A");
    EXPECT_EQ (service.getInputNames(), juce::StringArray ({"B", "A"}));
}

TEST_F (VirtualMidiServiceTest, HandlesOnRemovedPortsGoDead)
{
    std::atomic<int> sinkCalls{0};
    const int in = service.addInputPort ("Zelvor in");
    const int out = service.addOutputPort ("Zelvor out", [&] (const juce::MidiMessage&) { ++sinkCalls; });
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    service.removePort (in);
    service.removePort (out);
    service.deliver (in, juce::MidiMessage (0x90, 60, 100));
    host.send (bytesOf (Sysex::identityRequest));
    EXPECT_TRUE (host.nothingArrives());
    EXPECT_EQ (sinkCalls.load(), 0);
}

TEST_F (VirtualMidiServiceTest, AssemblesTheOutputByteStream)
{
    std::mutex mutex;
    std::vector<Bytes> seen;
    std::vector<std::pair<bool, Bytes>> tapped;
    service.addInputPort ("Zelvor");
    service.addOutputPort ("Zelvor",
                           [&] (const juce::MidiMessage& m)
                           {
                               const std::lock_guard<std::mutex> l (mutex);
                               seen.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
                           });
    service.setTrafficTap (
        [&] (bool toDevice, const std::uint8_t* d, int n)
        {
            const std::lock_guard<std::mutex> l (mutex);
            tapped.emplace_back (toDevice, Bytes (d, d + n));
        });
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    host.send ({0xF0, 0x06, 0x01, 0x02, 0xF8, 0x03}); // a clock inside an unfinished SysEx
    host.send ({0x04, 0x05, 0xF7, 0x11, 0x22, 0x90}); // its end, stray bytes, a note's status
    host.send ({0x3C, 0x64, 0xF0, 0x01, 0xB0, 0x07}); // the note; a SysEx cut by a status byte
    host.send ({0x7F, 0x55, 0xC0, 0x05});             // the controller; a stray byte; a program change

    const std::vector<Bytes> expected{
        {0xF8}, {0xF0, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7}, {0x90, 0x3C, 0x64}, {0xB0, 0x07, 0x7F}, {0xC0, 0x05}};
    const std::lock_guard<std::mutex> l (mutex);
    EXPECT_EQ (seen, expected);
    ASSERT_EQ (tapped.size(), 4u); // every raw send, unassembled
    EXPECT_TRUE (tapped[1].first);
    EXPECT_EQ (tapped[1].second, Bytes ({0x04, 0x05, 0xF7, 0x11, 0x22, 0x90}));
}

TEST_F (VirtualMidiServiceTest, WholeMessagesOnlyLosesWhatASendLeavesUnfinished)
{
    std::mutex mutex;
    std::vector<Bytes> seen;
    service.addInputPort ("Zelvor");
    service.addOutputPort ("Zelvor",
                           [&] (const juce::MidiMessage& m)
                           {
                               const std::lock_guard<std::mutex> l (mutex);
                               seen.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
                           });
    EXPECT_FALSE (service.sendsWholeMessagesOnly());
    service.setWholeMessagesOnly (true);
    EXPECT_TRUE (service.sendsWholeMessagesOnly());
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    host.send ({0xF0, 0x06, 0x01});                               // a SysEx in two pieces
    host.send ({0x02, 0xF7});                                     // ...never arrives
    host.send ({0xF0, 0x06, 0x03, 0xF8, 0xF7, 0x90, 0x3C, 0x64}); // whole messages do, clock and all
    host.send ({0x90, 0x3C});                                     // a note in two pieces is lost too
    host.send ({0x64});

    const std::vector<Bytes> expected{{0xF8}, {0xF0, 0x06, 0x03, 0xF7}, {0x90, 0x3C, 0x64}};
    const std::lock_guard<std::mutex> l (mutex);
    EXPECT_EQ (seen, expected);
}

TEST_F (VirtualMidiServiceTest, DeliversInDueOrderAndTapsDeliveries)
{
    const int in = service.addInputPort ("Zelvor");
    service.addOutputPort ("Zelvor", nullptr);
    std::atomic<int> tappedFromDevice{0};
    service.setTrafficTap ([&] (bool toDevice, const std::uint8_t*, int) { tappedFromDevice += toDevice ? 0 : 1; });
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    std::atomic<bool> actionRan{false};
    // Delays are counted from each call, so they lie far apart: a busy machine may hold this
    // thread between two calls for some real milliseconds.
    service.deliver (in, juce::MidiMessage (0xFC), 5000.0);
    service.deliver (in, juce::MidiMessage (0xFA), 30.0);
    service.deliver (in, juce::MidiMessage (0xF8), 30.0); // same delay: queued order
    service.schedule (1000.0,
                      [&]
                      {
                          actionRan = true;
                          service.deliver (in, juce::MidiMessage (0xFB));
                      });

    for (const std::uint8_t expected : std::initializer_list<std::uint8_t>{0xFA, 0xF8, 0xFB, 0xFC})
        EXPECT_EQ (host.next(), Bytes ({expected}));
    EXPECT_TRUE (actionRan);
    EXPECT_EQ (tappedFromDevice.load(), 4);
}

TEST_F (VirtualMidiServiceTest, AListingShowsTheChangesThatFellDueEvenWhenDeliveryRunsLate)
{
    // The delivery thread held up (as a busy machine holds it) past a port's arrival: a listing
    // taken after that arrival was due must still show the port.
    service.schedule (0.0, [] { std::this_thread::sleep_for (std::chrono::milliseconds (300)); });
    service.schedule (10.0, [this] { service.addInputPort ("Zelvor"); });
    Pacing::sleep (1000.0); // 20 real ms at this speed
    EXPECT_EQ (service.listInputs().size(), 1);
}

TEST_F (VirtualMidiServiceTest, StopWaitsForTheCallbackInFlightAndEndsDelivery)
{
    struct SlowHost : juce::MidiInputCallback
    {
        std::atomic<bool> inside{false};
        std::atomic<int> calls{0};
        std::unique_ptr<MidiInputPort>* selfHandle = nullptr;
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            inside = true;
            ++calls;
            if (m.getRawData()[0] == 0xFF)
                (*selfHandle)->stop(); // stopping from inside a callback must not deadlock
            else
                std::this_thread::sleep_for (std::chrono::milliseconds (50));
            inside = false;
        }
    } slow;

    const int in = service.addInputPort ("Zelvor");
    auto handle = service.openInput (0, &slow);
    slow.selfHandle = &handle;
    handle->start();

    service.deliver (in, juce::MidiMessage (0xF8));
    ASSERT_TRUE (waitUntil ([&] { return slow.inside.load(); }));
    handle->stop();
    EXPECT_FALSE (slow.inside.load());
    service.deliver (in, juce::MidiMessage (0xF8));
    Pacing::sleep (20);
    service.waitUntilIdle();
    EXPECT_EQ (slow.calls.load(), 1);

    handle->start();
    service.deliver (in, juce::MidiMessage (0xFF));
    service.deliver (in, juce::MidiMessage (0xF8), 5.0);
    Pacing::sleep (20);
    service.waitUntilIdle();
    EXPECT_EQ (slow.calls.load(), 2);
}

TEST_F (VirtualUnitTest, LoaderWritesDataBlocksOnlyIntoAnOpenWriteInsideItsMap)
{
    VirtualUnit unit (service, inLoader());
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    Bytes data (256);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t> (i * 37 + 5); // top bits set in many bytes
    const std::uint32_t address = 0x60000 + 0x1230;
    const auto block = dataBlock (address, data);

    host.send (block); // before any begin-write: refused, not written
    EXPECT_EQ (host.next(), dataBlockRefusal());
    EXPECT_EQ (unit.flash()[address], 0xFF);

    host.send (Sysex::beginWriteRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
    host.send (block.data(), 100);
    host.send (block.data() + 100, static_cast<int> (block.size()) - 100);
    EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));

    const auto flash = unit.flash();
    ASSERT_EQ (flash.size(), VirtualUnit::flashSize);
    EXPECT_EQ (Bytes (flash.begin() + address, flash.begin() + address + 256), data);
    EXPECT_EQ (flash[address - 1], 0xFF);
    EXPECT_EQ (flash[address + 256], 0xFF);

    for (const std::uint32_t outside : {0x40000u, 0x3FF80u}) // in a hole; running into one
    {
        host.send (dataBlock (outside, data));
        EXPECT_EQ (host.next(), dataBlockRefusal());
        EXPECT_EQ (unit.flash()[outside], 0xFF);
    }

    auto corrupt = block;
    corrupt[20] ^= 0x01;
    host.send (corrupt);
    EXPECT_TRUE (host.nothingArrives());
    EXPECT_EQ (unit.dataBlocksReceived(), 5);
    EXPECT_EQ (unit.badDataBlocksReceived(), 1);
    EXPECT_EQ (unit.refusedReceived(), 3);
    EXPECT_EQ (unit.countReceived (0x7A), 5);

    // A new write erases a region only when a block starts it.
    host.send (Sysex::beginWriteRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
    EXPECT_EQ (unit.flash()[address], data[0]);
    host.send (dataBlock (0x60000, Bytes (16, 0x01)));
    EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));
    EXPECT_EQ (unit.flash()[address], 0xFF);
}

TEST_F (VirtualUnitTest, RunningFirmwareLeavesLoaderCommandsUnanswered)
{
    VirtualUnit unit (service);
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    host.send (Sysex::mapRequest);
    host.send (Sysex::beginWriteRequest);
    host.send (dataBlock (0x00000, Bytes (16, 0x42)));
    EXPECT_TRUE (host.nothingArrives());
    EXPECT_EQ (unit.refusedReceived(), 3);
    EXPECT_EQ (unit.flash()[0], 0xFF);
}

TEST_F (VirtualUnitTest, IdentityAndMapRepliesAreExact)
{
    VirtualUnit running (service);
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    host.send (Sysex::identityRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyRunning));
    host.close();

    auto options = inLoader();
    options.inputPortName = "Zelvor loader in";
    VirtualUnit loader (service, options);
    running.unplug();
    ASSERT_TRUE (host.open());
    host.send (Sysex::identityRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyLoader));
    host.send (Sysex::mapRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::mapReply));
}

TEST_F (VirtualUnitTest, EnterLoaderRestartsWithPortsGoneForRestartTime)
{
    VirtualUnit::Options options;
    options.restartMs = 1500.0;
    VirtualUnit unit (service, options);
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    EXPECT_EQ (service.getInputNames(), juce::StringArray ("Sorvanta Zelvor USB MIDI MIDI 1"));

    const auto sent = Pacing::elapsedMilliseconds();
    host.send (Sysex::enterLoaderRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::enterLoaderAck));
    ASSERT_TRUE (waitUntil ([&] { return service.getInputNames().isEmpty() && service.getOutputNames().isEmpty(); }));
    EXPECT_FALSE (unit.isPluggedIn());

    host.send (Sysex::identityRequest); // the old handles are dead
    EXPECT_TRUE (host.nothingArrives());

    ASSERT_TRUE (
        waitUntil ([&] { return service.getInputNames().size() == 1 && service.getOutputNames().size() == 1; }));
    EXPECT_GE (Pacing::elapsedMilliseconds() - sent, options.restartMs);
    EXPECT_TRUE (unit.isInLoader());
    // Back under the loader's own USB names, as a real re-enumeration.
    EXPECT_EQ (service.getInputNames(), juce::StringArray ("Sorvanta Zelvor Loader MIDI 1"));
    EXPECT_EQ (service.getOutputNames(), juce::StringArray ("Sorvanta Zelvor Loader MIDI 1"));

    ASSERT_TRUE (host.open());
    host.send (Sysex::identityRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyLoader));
    host.send (Sysex::enterLoaderRequest); // the loader only acknowledges
    EXPECT_EQ (host.next(), bytesOf (Sysex::enterLoaderAck));
    EXPECT_TRUE (host.nothingArrives());
    EXPECT_TRUE (unit.isPluggedIn());
    EXPECT_EQ (unit.countReceived (0x71), 2);
}

// What a unit does with a write, judged only by what it received: a block at a region's start
// erases that region; until a write of every region so erased has gone quiet with the power on,
// every power-on starts the loader, which ignores the DSP family unless it is the lenient kind.
// Regions no block touched keep what they held.
TEST_F (VirtualUnitTest, AWriteCutShortKeepsTheLoaderUntilAWriteOfWhatItErasedFinishes)
{
    const std::uint32_t regions[] = {0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000};
    for (const bool lenient : {false, true})
    {
        SCOPED_TRACE (lenient ? "lenient loader" : "strict loader");
        auto options = inLoader();
        options.restartMs = 300.0;
        options.loaderTakesDsp = lenient;
        VirtualUnit unit (service, options);
        FakeHost host (service);
        auto powerCycleAndReopen = [&]
        {
            host.close();
            unit.powerCycle();
            EXPECT_TRUE (waitUntil ([&] { return unit.isPluggedIn(); }));
            return host.open();
        };
        auto writeRegions = [&] (std::initializer_list<std::uint32_t> starts, std::uint8_t value)
        {
            host.send (Sysex::beginWriteRequest);
            EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
            for (const auto start : starts)
            {
                host.send (dataBlock (start, Bytes (32, value)));
                EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));
            }
        };

        ASSERT_TRUE (host.open());
        writeRegions ({0x10000}, 0x11);
        EXPECT_FALSE (unit.mainFirmwareValid());

        // A power cut: the next message is lost with the power, and the loader comes back.
        ASSERT_TRUE (unit.setFault ("power-cut-after:1"));
        host.send (dataBlock (0x10020, Bytes (32, 0x11)));
        EXPECT_TRUE (host.nothingArrives());
        EXPECT_EQ (unit.flash()[0x10020], 0xFF);
        ASSERT_TRUE (waitUntil ([&] { return unit.isPluggedIn(); }));
        EXPECT_TRUE (unit.isInLoader());
        EXPECT_EQ (service.getInputNames(), juce::StringArray ("Sorvanta Zelvor Loader MIDI 1"));
        ASSERT_TRUE (unit.setFault ("none"));

        ASSERT_TRUE (powerCycleAndReopen());
        host.send (Sysex::identityRequest);
        EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyLoader));
        host.send (Sysex::dspStartMessage);
        host.send (dspImageMessage (0x00, 0x57, 7));
        host.send (Sysex::dspEndMessage);
        if (lenient)
            EXPECT_EQ (host.next(), dspReply (0x01));
        else
            EXPECT_TRUE (host.nothingArrives() && unit.dspReceived().empty());

        // Every region written, but the power cycled before the write went quiet: not finished.
        writeRegions ({regions[0], regions[1], regions[2], regions[3], regions[4], regions[5]}, 0x22);
        ASSERT_TRUE (powerCycleAndReopen());
        EXPECT_TRUE (unit.isInLoader());

        writeRegions ({regions[0], regions[1], regions[2], regions[3], regions[4], regions[5]}, 0x22);
        Pacing::sleep (VirtualUnit::writeSettleMs);
        EXPECT_TRUE (unit.mainFirmwareValid());
        ASSERT_TRUE (powerCycleAndReopen());
        EXPECT_FALSE (unit.isInLoader());
        host.send (Sysex::identityRequest);
        EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyRunning));

        // A later write of one region only: the others keep their bytes, and the unit runs.
        host.send (Sysex::enterLoaderRequest);
        EXPECT_EQ (host.next(), bytesOf (Sysex::enterLoaderAck));
        host.close();
        ASSERT_TRUE (waitUntil ([&] { return unit.isPluggedIn() && unit.isInLoader(); }));
        ASSERT_TRUE (host.open());
        writeRegions ({regions[2]}, 0x33);
        Pacing::sleep (VirtualUnit::writeSettleMs);
        ASSERT_TRUE (powerCycleAndReopen());
        EXPECT_FALSE (unit.isInLoader());
        const auto flash = unit.flash();
        EXPECT_EQ (flash[regions[1]], 0x22);
        EXPECT_EQ (flash[regions[2]], 0x33);
        EXPECT_EQ (flash[regions[2] + 32], 0xFF) << "the region was erased before it was written";

        // A write that first touches a region past its start erases it too; one that lost a
        // block never finishes, however long it stays quiet.
        host.send (Sysex::enterLoaderRequest);
        EXPECT_EQ (host.next(), bytesOf (Sysex::enterLoaderAck));
        host.close();
        ASSERT_TRUE (waitUntil ([&] { return unit.isPluggedIn() && unit.isInLoader(); }));
        ASSERT_TRUE (host.open());
        ASSERT_TRUE (unit.setFault ("no-data-ack:2"));
        host.send (Sysex::beginWriteRequest);
        EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
        host.send (dataBlock (regions[1] + 0x100, Bytes (32, 0x44)));
        EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));
        EXPECT_EQ (unit.flash()[regions[1]], 0xFF);
        host.send (dataBlock (regions[3], Bytes (32, 0x44)));
        EXPECT_TRUE (host.nothingArrives());
        Pacing::sleep (VirtualUnit::writeSettleMs);
        ASSERT_TRUE (unit.setFault ("none"));
        ASSERT_TRUE (powerCycleAndReopen());
        EXPECT_TRUE (unit.isInLoader());
    }
}

TEST_F (VirtualUnitTest, DspTransferIsRecordedAndAcknowledged)
{
    VirtualUnit unit (service);
    FakeHost host (service);
    ASSERT_TRUE (host.open());

    const auto first = dspImageMessage (0x00, 0x57, 7);
    const auto second = dspImageMessage (0x7F, 0x58, 152);
    host.send (Sysex::dspStartMessage);
    host.send (first);
    host.send (second.data(), 80); // pieces, as the link sends long messages
    host.send (second.data() + 80, static_cast<int> (second.size()) - 80);
    EXPECT_TRUE (host.nothingArrives());
    host.send (Sysex::dspEndMessage);
    EXPECT_EQ (host.next(), dspReply (0x01));

    auto expected = first;
    expected.insert (expected.end(), second.begin(), second.end());
    EXPECT_EQ (unit.dspReceived(), expected);
    EXPECT_TRUE (unit.dspEndAcknowledged());

    host.send (Sysex::dspStartMessage);
    host.send (dspImageMessage (0x01, 0x55, 8)); // check byte off by one
    host.send (Sysex::dspEndMessage);
    EXPECT_EQ (host.next(), dspReply (0x03));
    EXPECT_FALSE (unit.dspEndAcknowledged());
}

// Every scenario the options and the unit window offer is described, and takes a count only
// where it has one to take.
TEST_F (VirtualUnitTest, FaultNamesAreListedDescribedAndParsed)
{
    const auto names = UnitFault::names();
    EXPECT_EQ (names[0], "none");
    for (const auto& name : names)
    {
        EXPECT_FALSE (UnitFault::describe (name).isEmpty()) << name;
        const auto fault = UnitFault::parse (name);
        ASSERT_TRUE (fault.has_value()) << name;
        EXPECT_EQ (UnitFault::parse (name + ":3").has_value(), fault->count > 0) << name;
    }

    VirtualUnit unit (service);
    EXPECT_TRUE (unit.setFault ("no-data-ack:3"));
    EXPECT_EQ (UnitFault::parse ("no-data-ack")->count, 1);
    EXPECT_EQ (UnitFault::parse (" no-data-ack : 12 ")->count, 12);
    for (const auto* bad : {"no-such-fault",
                            "no-data-ack:x",
                            "no-data-ack:0",
                            "no-data-ack:",
                            "no-data-ack:9999999999",
                            "no-map-reply:2",
                            ""})
    {
        EXPECT_FALSE (unit.setFault (bad)) << bad;
        EXPECT_FALSE (UnitFault::parse (bad).has_value()) << bad;
    }
}

TEST_F (VirtualUnitTest, WrongIdentityReplyCarriesModeTwoWithValidChecksum)
{
    VirtualUnit unit (service);
    ASSERT_TRUE (unit.setFault ("wrong-identity-reply"));
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    host.send (Sysex::identityRequest);
    const auto reply = host.next();
    ASSERT_TRUE (reply.has_value());
    ASSERT_EQ (reply->size(), 13u);
    EXPECT_EQ ((*reply)[10], 0x02);
    EXPECT_EQ ((*reply)[11], Sysex::xorChecksum (reply->data(), 13));
    EXPECT_FALSE (Sysex::matchesMessage (reply->data(), 13, Sysex::identityReplyRunning));
    EXPECT_FALSE (Sysex::matchesMessage (reply->data(), 13, Sysex::identityReplyLoader));
}

TEST_F (VirtualUnitTest, ClockDuringWaitPrecedesTheMapReply)
{
    VirtualUnit unit (service, inLoader());
    ASSERT_TRUE (unit.setFault ("clock-during-wait"));
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    host.send (Sysex::mapRequest);
    EXPECT_EQ (host.next(), Bytes ({0xF8}));
    EXPECT_EQ (host.next(), bytesOf (Sysex::mapReply));
}

TEST_F (VirtualUnitTest, UnplugAfterRemovesPortsWithoutAnsweringTheLastMessage)
{
    VirtualUnit unit (service, inLoader());
    ASSERT_TRUE (unit.setFault ("unplug-after:3"));
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    host.send (Sysex::identityRequest);
    host.send (Sysex::mapRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::identityReplyLoader));
    EXPECT_EQ (host.next(), bytesOf (Sysex::mapReply));
    host.send (Sysex::identityRequest);
    EXPECT_TRUE (host.nothingArrives());
    EXPECT_FALSE (unit.isPluggedIn());
    EXPECT_TRUE (service.getInputNames().isEmpty());
    EXPECT_EQ (unit.messagesReceived(), 3);
}

TEST_F (VirtualUnitTest, HeldPortsFailToOpen)
{
    VirtualUnit unit (service);
    FakeHost host (service);
    ASSERT_TRUE (unit.setFault ("output-held"));
    EXPECT_FALSE (host.open());
    EXPECT_NE (host.input, nullptr);
    ASSERT_TRUE (unit.setFault ("ports-held"));
    EXPECT_FALSE (host.open());
    EXPECT_EQ (host.input, nullptr);
    EXPECT_EQ (service.getInputNames().size(), 1);
    ASSERT_TRUE (unit.setFault ("none"));
    EXPECT_TRUE (host.open());
}

TEST_F (VirtualUnitTest, DataAckFaultsCountDistinctBlocks)
{
    VirtualUnit unit (service, inLoader());
    FakeHost host (service);
    ASSERT_TRUE (host.open());
    host.send (Sysex::beginWriteRequest);
    EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));

    const Bytes data (16, 0x42);
    ASSERT_TRUE (unit.setFault ("no-data-ack:2"));
    host.send (dataBlock (0x0, data));
    EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));
    for (int attempt = 0; attempt < 3; ++attempt)
        host.send (dataBlock (0x100, data)); // every retry of block 2 goes unanswered
    EXPECT_TRUE (host.nothingArrives());
    host.send (dataBlock (0x200, data));
    EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));

    ASSERT_TRUE (unit.setFault ("drop-data-ack-once:1"));
    host.send (dataBlock (0x300, data));
    EXPECT_TRUE (host.nothingArrives());
    host.send (dataBlock (0x300, data));
    EXPECT_EQ (host.next(), bytesOf (Sysex::dataBlockAck));

    ASSERT_TRUE (unit.setFault ("refuse-data-block:1"));
    host.send (dataBlock (0x400, data));
    host.send (dataBlock (0x400, data));
    EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
    EXPECT_EQ (host.next(), bytesOf (Sysex::beginWriteAck));
}
