#include "TestSupport.h"

#include "sim/VirtualUnit.h"
#include "update/UpdatePhase.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

using namespace zelvor;
using namespace zelvor::test;

// The unit relies on the link's pace. Each message sent is stamped twice: with the clock, which
// shows that no pause is shorter than it must be, and with the protocol time its thread has
// slept so far, which shows that no pause is longer than it should be however busy the machine
// is (a busy machine lengthens sleeps, never the sleeps asked for).
namespace
{
constexpr double speed = 20.0;

struct Sent
{
    double at;                    // protocol time by the clock
    double slept;                 // protocol time the sending thread had slept
    Pacing::SleepCounter counter; // the sending thread's count (of the thread a send was handed over by)
    Bytes bytes;
};

// The sleeps asked for between two messages sent by the same thread.
double sleptBetween (const Sent& from, const Sent& to)
{
    EXPECT_EQ (from.counter, to.counter);
    return to.slept - from.slept;
}

class PacingTest : public WithVirtualMidi
{
protected:
    PacingTest()
    {
        Pacing::setSpeed (speed);
        service.setTrafficTap (
            [this] (bool toDevice, const std::uint8_t* data, int size)
            {
                if (! toDevice)
                    return;
                std::lock_guard<std::mutex> guard (lock);
                sent.push_back ({Pacing::elapsedMilliseconds(),
                                 Pacing::sleptOnThisThread(),
                                 Pacing::sleepCounterOfThisThread(),
                                 Bytes (data, data + size)});
            });
    }

    ~PacingTest() override
    {
        service.setTrafficTap (nullptr);
    }

    std::vector<Sent> sentWhere (std::function<bool (const Bytes&)> predicate)
    {
        std::lock_guard<std::mutex> guard (lock);
        std::vector<Sent> result;
        for (const auto& s : sent)
            if (predicate (s.bytes))
                result.push_back (s);
        return result;
    }

    static bool isCommand (const Bytes& b, std::uint8_t command)
    {
        return b.size() > 5 && b[1] == 0x06 && b[5] == command;
    }

    std::mutex lock;
    std::vector<Sent> sent;
};

class DspPacing : public PacingTest, public ::testing::WithParamInterface<bool>
{
};
} // namespace

TEST_F (PacingTest, QexHandshakeRestartChunkAndSettlingPace)
{
    Pacing::setSpeed (5.0); // slow enough that a missing second shows through a busy machine
    VirtualUnit unit (service);
    FirmwareManager link;
    Bytes data (0x10000, 0xFF);
    data[0] = 0x01;       // chunk 0 is sent
    data[3 * 256] = 0x02; // chunks 1 and 2 are erased and skipped, chunk 3 is sent
    TempImageFile file (QexImageBuilder().block (0x60000, data).bytes);
    ASSERT_TRUE (link.loadQexImageFile (file.file()));

    ASSERT_EQ (runUpdatePhase (link, FirmwareKind::qex, nullptr, nullptr), phaseSucceeded);
    const double ended = Pacing::elapsedMilliseconds();

    const auto identity = sentWhere ([] (const Bytes& b) { return isCommand (b, 0x01); });
    const auto loader = sentWhere ([] (const Bytes& b) { return isCommand (b, 0x71); });
    const auto blocks = sentWhere ([] (const Bytes& b) { return isCommand (b, 0x7A); });
    ASSERT_EQ (identity.size(), 2u);
    ASSERT_EQ (loader.size(), 1u);
    ASSERT_EQ (blocks.size(), 2u);

    // Enter-loader acknowledged after one 100 ms step (a second one if the reply is late),
    // then the 5500 ms restart.
    EXPECT_GE (identity[1].at - loader[0].at, 100.0 + 5500.0);
    EXPECT_LE (sleptBetween (loader[0], identity[1]), 100.0 + 100.0 + 5500.0 + 1.0);

    // Chunk 0: one 40 ms acknowledgement step and the 40 ms pause; the two skipped chunks
    // take their 40 ms pause each.
    EXPECT_GE (blocks[1].at - blocks[0].at, 80.0 + 2 * 40.0);
    EXPECT_LE (sleptBetween (blocks[0], blocks[1]), 40.0 + 80.0 + 2 * 40.0 + 3.0);

    // After chunk 3: its acknowledgement and pause, the pauses of the 252 erased chunks, the
    // 5000 ms for the unit's last write and 1000 ms after the ports close; then the run's own
    // 500 and 1000 ms.
    const double afterLastChunk = 40.0 + 40.0 + 252 * 40.0 + 5000.0 + 1000.0;
    EXPECT_GE (ended - blocks[1].at, afterLastChunk + 500.0 + 1000.0);
    EXPECT_LE (blocks[1].counter->load() - blocks[1].slept, afterLastChunk + 40.0 + 254 * 1.0);
}

TEST_F (PacingTest, HandshakeGivesUpAfter121Steps)
{
    VirtualUnit unit (service);
    ASSERT_TRUE (unit.setFault ("no-identity-reply"));
    FirmwareManager link;
    link.loadBuiltInQexImage();

    const double before = Pacing::elapsedMilliseconds();
    const double sleptBefore = Pacing::sleptOnThisThread();
    EXPECT_FALSE (link.startQexUpdate());
    EXPECT_GE (Pacing::elapsedMilliseconds() - before, 12100.0);
    EXPECT_DOUBLE_EQ (Pacing::sleptOnThisThread() - sleptBefore, 121 * 100.0);
    EXPECT_EQ (link.pollQexResult(), -1);
}

// Where the MIDI layer takes whole messages only, a long message goes out whole, followed by
// the pause its two pieces would have taken.
TEST_P (DspPacing, StartPiecesAndEndMessage)
{
    const bool wholeOnly = GetParam();
    service.setWholeMessagesOnly (wholeOnly);
    VirtualUnit unit (service);
    FirmwareManager link;
    Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x7F, 0x58};
    message.resize (199, 0x11);
    message.push_back (0xF7);
    Bytes image;
    for (int i = 0; i < 3; ++i)
        image.insert (image.end(), message.begin(), message.end());
    TempImageFile file (image, ".syx");
    ASSERT_TRUE (link.loadDspImageFile (file.file()));
    ASSERT_TRUE (link.reopenUnitPorts());

    ASSERT_EQ (runUpdatePhase (link, FirmwareKind::dsp, nullptr, nullptr), phaseSucceeded);
    const double ended = Pacing::elapsedMilliseconds();
    EXPECT_EQ (unit.dspReceived(), image);

    const auto all = sentWhere ([] (const Bytes&) { return true; });
    const size_t sendsPerMessage = wholeOnly ? 1 : 2;
    ASSERT_EQ (all.size(), 1u + 3 * sendsPerMessage + 1); // start, the messages, end
    auto expectGap = [&all] (size_t i, double floor)
    {
        EXPECT_GE (all[i].at - all[i - 1].at, floor) << "before send " << i;
        if (all[i].counter == all[i - 1].counter) // each pause rounds its last step up by under 1 ms
        {
            EXPECT_LE (sleptBetween (all[i - 1], all[i]), floor + 5.0) << "before send " << i;
        }
    };

    expectGap (1, 2000.0);         // after the start message
    for (size_t m = 1; m < 3; ++m) // next message: its pieces' gaps and the progress step
        expectGap (1 + m * sendsPerMessage, 40.0 + (wholeOnly ? 20.0 : 0.0));
    if (! wholeOnly)
        for (size_t i : {2u, 4u, 6u}) // second piece of a message: 20 ms after the first
            expectGap (i, 20.0);
    expectGap (all.size() - 1, 40.0 + (wholeOnly ? 20.0 : 0.0) + 3000.0); // the end message
    // After it: a 1000 ms step for the acknowledgement, then the unit's 3000 ms to take the
    // image in and the phase's closing 1000 ms.
    EXPECT_GE (ended - all.back().at, 1000.0 + 3000.0 + 1000.0);
}

INSTANTIATE_TEST_SUITE_P (PacingTest,
                          DspPacing,
                          ::testing::Bool(),
                          [] (const auto& paramInfo)
                          { return std::string (paramInfo.param ? "WholeMessagesOnly" : "Pieces"); });

// After a cancelled QEX run only the closing 1000 ms sleep remains: the 500 ms wait after the
// transfer is cut short by the cancel.
TEST_F (PacingTest, CancelCutsTheWaitAfterAQexRunShort)
{
    VirtualUnit::Options options;
    options.startInLoader = true;
    VirtualUnit unit (service, options);
    FirmwareManager link;
    link.loadBuiltInQexImage();

    std::atomic<double> cancelledAt{0.0};
    double sleptAtCancel = 0.0;
    const auto result = runUpdatePhase (link,
                                        FirmwareKind::qex,
                                        nullptr,
                                        [&]
                                        {
                                            if (cancelledAt.load() == 0.0 && link.overallProgress.load() > 0.0)
                                            {
                                                cancelledAt = Pacing::elapsedMilliseconds();
                                                sleptAtCancel = Pacing::sleptOnThisThread();
                                            }
                                            return cancelledAt.load() > 0.0;
                                        });

    EXPECT_EQ (result, phaseCancelled);
    EXPECT_GE (Pacing::elapsedMilliseconds() - cancelledAt.load(), 1000.0);
    EXPECT_EQ (Pacing::sleptOnThisThread() - sleptAtCancel, 1000.0);
}

TEST (PacingSpeed, ProtocolTimeRunsOnAcrossSpeedChanges)
{
    Pacing::setSpeed (10.0);
    const double before = Pacing::elapsedMilliseconds();
    std::this_thread::sleep_for (std::chrono::milliseconds (20));
    Pacing::setSpeed (5.0);
    const double after = Pacing::elapsedMilliseconds();
    EXPECT_GE (after - before, 200.0);
    Pacing::setSpeed (1.0);
    EXPECT_GE (Pacing::elapsedMilliseconds(), after);
}

TEST (PacingSpeed, StaysWithinWhatThePacingCanHonour)
{
    for (const auto& [asked, kept] : {std::pair{std::numeric_limits<double>::infinity(), Pacing::maxSpeed},
                                      {1e9, Pacing::maxSpeed},
                                      {1e-9, Pacing::minSpeed},
                                      {0.0, 1.0},
                                      {-3.0, 1.0},
                                      {std::nan (""), 1.0},
                                      {42.0, 42.0}})
    {
        Pacing::setSpeed (asked);
        EXPECT_EQ (Pacing::getSpeed(), kept) << asked;
        EXPECT_TRUE (std::isfinite (Pacing::elapsedMilliseconds()));
    }
    Pacing::setSpeed (1.0);
}

// A handshake counts its sleeps, so a sleep that ends early (as a part of a millisecond does in
// MinGW's runtime) makes it give up before the unit could have answered.
TEST (PacingSpeed, SleepNeverEndsEarlyAtHighSpeed)
{
    Pacing::setSpeed (200.0);
    for (int protocolMs : {1, 20, 40, 100, 150})
    {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 10; ++i)
            Pacing::sleep (protocolMs);
        const auto real = std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count();
        EXPECT_GE (real, 10 * protocolMs * 1000.0 / 200.0) << protocolMs << " ms";
    }
    Pacing::setSpeed (1.0);
}
