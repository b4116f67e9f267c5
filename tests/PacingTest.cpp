#include "TestSupport.h"

#include "sim/VirtualUnit.h"
#include "update/UpdatePhase.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

using namespace zelvor;
using namespace zelvor::test;

// The unit relies on the link's pace. These tests time the traffic in protocol milliseconds
// at a moderate speed, so scheduling noise stays well inside the tolerances.
namespace
{
constexpr double speed = 20.0;
constexpr double slack = 300.0; // protocol ms of scheduling noise allowed on top of a floor
#if JUCE_WINDOWS
constexpr double sleepGrain = speed; // Windows sleeps whole real milliseconds: up to one more per sleep
#else
constexpr double sleepGrain = 0.0;
#endif

struct Sent
{
    double at;
    Bytes bytes;
};

class PacingTest : public WithVirtualMidi
{
protected:
    PacingTest()
    {
        Pacing::setSpeed (speed);
        service.setTrafficTap ([this] (bool toDevice, const std::uint8_t* data, int size)
                               {
                                   if (! toDevice)
                                       return;
                                   std::lock_guard<std::mutex> guard (lock);
                                   sent.push_back ({ Pacing::elapsedMilliseconds(), Bytes (data, data + size) }); });
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

class DspPacing : public PacingTest,
                  public ::testing::WithParamInterface<bool>
{
};
} // namespace

TEST_F (PacingTest, QexHandshakeRestartAndChunkPace)
{
    VirtualUnit unit (service);
    FirmwareManager link;
    Bytes data (0x10000, 0xFF);
    data[0] = 0x01;       // chunk 0 is sent
    data[3 * 256] = 0x02; // chunks 1 and 2 are erased and skipped, chunk 3 is sent
    TempImageFile file (QexImageBuilder().block (0x60000, data).bytes);
    ASSERT_TRUE (link.loadQexImageFile (file.file()));

    ASSERT_EQ (runUpdatePhase (link, FirmwareKind::qex, nullptr, nullptr), phaseSucceeded);

    const auto identity = sentWhere ([] (const Bytes& b)
                                     { return isCommand (b, 0x01); });
    const auto loader = sentWhere ([] (const Bytes& b)
                                   { return isCommand (b, 0x71); });
    const auto blocks = sentWhere ([] (const Bytes& b)
                                   { return isCommand (b, 0x7A); });
    ASSERT_EQ (identity.size(), 2u);
    ASSERT_EQ (loader.size(), 1u);
    ASSERT_EQ (blocks.size(), 2u);

    // Enter-loader acknowledged after one 100 ms step, then the 5500 ms restart.
    const double restart = identity[1].at - loader[0].at;
    EXPECT_GE (restart, 100.0 + 5500.0);
    EXPECT_LT (restart, 100.0 + 5500.0 + slack);

    // Chunk 0: one 40 ms acknowledgement step and the 40 ms pause; the two skipped chunks
    // take their 40 ms pause each.
    const double betweenChunks = blocks[1].at - blocks[0].at;
    EXPECT_GE (betweenChunks, 80.0 + 2 * 40.0);
    EXPECT_LT (betweenChunks, 80.0 + 2 * 40.0 + slack);
}

TEST_F (PacingTest, HandshakeGivesUpAfter121Steps)
{
    VirtualUnit unit (service);
    ASSERT_TRUE (unit.setFault ("no-identity-reply"));
    FirmwareManager link;
    link.loadBuiltInQexImage();

    const double before = Pacing::elapsedMilliseconds();
    EXPECT_FALSE (link.startQexUpdate());
    const double took = Pacing::elapsedMilliseconds() - before;
    EXPECT_GE (took, 12100.0);
    EXPECT_LT (took, 12100.0 + 2 * slack + 121 * sleepGrain); // 121 sleeps, each of which may overshoot a little
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
    EXPECT_EQ (unit.dspReceived(), image);

    const auto all = sentWhere ([] (const Bytes&)
                                { return true; });
    const size_t sendsPerMessage = wholeOnly ? 1 : 2;
    ASSERT_EQ (all.size(), 1u + 3 * sendsPerMessage + 1); // start, the messages, end
    auto gap = [&all] (size_t i)
    { return all[i].at - all[i - 1].at; };
    auto expectGap = [&gap] (size_t i, double floor)
    {
        EXPECT_GE (gap (i), floor) << "before send " << i;
        EXPECT_LT (gap (i), floor + slack) << "before send " << i;
    };

    expectGap (1, 2000.0);         // after the start message
    for (size_t m = 1; m < 3; ++m) // next message: its pieces' gaps and the progress step
        expectGap (1 + m * sendsPerMessage, 40.0 + (wholeOnly ? 20.0 : 0.0));
    if (! wholeOnly)
        for (size_t i : {2u, 4u, 6u}) // second piece of a message: 20 ms after the first
            expectGap (i, 20.0);
    expectGap (all.size() - 1, 40.0 + (wholeOnly ? 20.0 : 0.0) + 3000.0); // the end message
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
    const auto result = runUpdatePhase (link, FirmwareKind::qex, nullptr, [&]
                                        {
                                            if (cancelledAt.load() == 0.0 && link.overallProgress.load() > 0.0)
                                                cancelledAt = Pacing::elapsedMilliseconds();
                                            return cancelledAt.load() > 0.0; });
    const double closing = Pacing::elapsedMilliseconds() - cancelledAt.load();

    EXPECT_EQ (result, phaseCancelled);
    EXPECT_GE (closing, 1000.0);
    EXPECT_LT (closing, 1000.0 + slack);
}

TEST (PacingSpeed, StaysWithinWhatThePacingCanHonour)
{
    for (const auto& [asked, kept] : {std::pair{std::numeric_limits<double>::infinity(), Pacing::maxSpeed}, {1e9, Pacing::maxSpeed}, {1e-9, Pacing::minSpeed}, {0.0, 1.0}, {-3.0, 1.0}, {std::nan (""), 1.0}, {42.0, 42.0}})
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
