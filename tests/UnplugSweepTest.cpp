#include "TestSupport.h"

#include "sim/HeadlessUpdate.h"

#include <BinaryData.h>

#include <atomic>
#include <chrono>
#include <mutex>

using namespace zelvor;
using namespace zelvor::test;

// A loose cable at every point of a full update: the unit is unplugged right after the K-th
// message from the link, through the handshake and spread over both transfers to the last
// message. Every run must end in failure with the ports released, promptly and without sending
// anything more, unless the unit had received everything, in which case its flash and DSP
// record must hold the images. The same points with a blink (the unit missing from the port
// lists for a moment while its ports keep working): a failure, or a success only with both
// images on the unit.
namespace
{
constexpr double sweepSpeed = 250.0;
constexpr double promptMs = 30000.0; // slept by the thread that met the unplug, to its end: one handshake wait and the closing pauses fit

struct SweepRun
{
    HeadlessResult result;
    int sent = 0;            // messages the link sent in all
    int sentAfterUnplug = 0; // of those, after the unit was gone
    int firstQexMessage = 0; // 1-based number of the first QEX-family message, 0 when none
    double unplugToEndMs = 0.0;
    double realSeconds = 0.0;
    bool flashHoldsImage = false;
    bool dspHoldsImage = false;
};

struct SweepKind
{
    bool qexHalf;
    const char* fault; // "unplug-after" or "blink-after"
};

std::ostream& operator<< (std::ostream& out, const SweepKind& kind)
{
    return out << kind.fault << (kind.qexHalf ? ", QEX half" : ", DSP half");
}

class UnplugSweep : public ::testing::TestWithParam<SweepKind>
{
protected:
    UnplugSweep()
    {
        Pacing::setSpeed (sweepSpeed);
        FirmwareManager::setTraceWriter ([] (const char*) {});
    }

    ~UnplugSweep() override
    {
        FirmwareManager::setTraceWriter (nullptr);
        Pacing::setSpeed (1.0);
    }

    // A full update of the built-in images; unplugAfter 0 leaves the unit as it is.
    static SweepRun runWithFaultAfter (const char* fault, int unplugAfter)
    {
        VirtualMidiService service;
        MidiPortService::install (&service);

        SweepRun run;
        std::mutex lock;
        double unpluggedAt = -1.0;
        Pacing::SleepCounter unplugThread; // the thread that sent the last message, and what it had slept
        double sleptAtUnplug = 0.0;
        service.setTrafficTap ([&] (bool toDevice, const std::uint8_t* data, int size)
                               {
                                   if (! toDevice)
                                       return;
                                   const std::lock_guard<std::mutex> guard (lock);
                                   ++run.sent;
                                   if (run.firstQexMessage == 0 && size > 1 && data[1] == 0x06)
                                       run.firstQexMessage = run.sent;
                                   if (run.sent == unplugAfter)
                                   {
                                       unpluggedAt = Pacing::elapsedMilliseconds();
                                       unplugThread = Pacing::sleepCounterOfThisThread();
                                       sleptAtUnplug = unplugThread->load();
                                   }
                                   else if (unpluggedAt >= 0.0)
                                   {
                                       ++run.sentAfterUnplug;
                                   } });

        {
            VirtualUnit unit (service);
            if (unplugAfter > 0)
            {
                EXPECT_TRUE (unit.setFault (fault + (":" + juce::String (unplugAfter))));
            }

            const auto started = std::chrono::steady_clock::now();
            run.result = runHeadlessUpdate ({}, unit);
            run.realSeconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();

            service.setTrafficTap (nullptr);
            // Counted in the sleeps that thread asked for, which a busy machine does not lengthen.
            if (unplugThread != nullptr)
                run.unplugToEndMs = unplugThread->load() - sleptAtUnplug;

            const auto* dsp = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
            run.dspHoldsImage = unit.dspReceived() == Bytes (dsp, dsp + BinaryData::dspImage_syxSize) && unit.dspEndAcknowledged();

            FirmwareManager images;
            images.loadBuiltInQexImage();
            const auto flash = unit.flash();
            run.flashHoldsImage = std::all_of (images.imageBlocks.begin(), images.imageBlocks.end(), [&flash] (const ImageBlock& b)
                                               { return std::equal (b.data.begin(), b.data.end(), flash.begin() + b.address); });
        }

        MidiPortService::install (nullptr);
        return run;
    }
};
} // namespace

// One half of the sweep each, so that the two can run side by side.
TEST_P (UnplugSweep, EveryPointEndsInFailureOrAWholeWrite)
{
    const bool qexHalf = GetParam().qexHalf;
    const juce::String fault = GetParam().fault;
    const bool blink = fault == "blink-after";

    // The clean run: a legitimate success, and the number of messages to sweep over.
    const auto clean = runWithFaultAfter (fault.toRawUTF8(), 0);
    ASSERT_EQ (clean.result.outcome, HeadlessResult::Outcome::success);
    ASSERT_TRUE (clean.flashHoldsImage && clean.dspHoldsImage);
    const int total = clean.sent;
    const int qexStart = clean.firstQexMessage; // the identity request after the power cycle
    ASSERT_GT (qexStart, 3);

    // DSP half: its first and last messages one by one and points spread between them. QEX
    // half: the whole handshake and the first blocks one by one, points spread over the blocks,
    // the last two messages, and one past the last, when no unplug happens.
    constexpr int spread = 12;
    std::vector<int> points;
    if (qexHalf)
    {
        for (int k = qexStart; k < qexStart + 7; ++k)
            points.push_back (k);
        for (int i = 1; i < spread; ++i)
            points.push_back (qexStart + 7 + (total - qexStart - 9) * i / spread);
        points.insert (points.end(), {total - 1, total, total + 1});
    }
    else
    {
        points = {1, 2, 3, qexStart - 2, qexStart - 1};
        for (int i = 1; i < spread; ++i)
            points.push_back (3 + (qexStart - 5) * i / spread);
    }

    int failures = 0, successes = 0;
    double slowest = clean.realSeconds;
    for (const int k : points)
    {
        const auto run = runWithFaultAfter (fault.toRawUTF8(), k);
        slowest = std::max (slowest, run.realSeconds);
        const auto& outcome = run.result.outcome;

        EXPECT_TRUE (run.result.portsReleased) << "unplugged after message " << k;
        if (outcome == HeadlessResult::Outcome::success)
        {
            ++successes;
            if (! blink)
            {
                EXPECT_GT (k, total) << "a success although the unit went after message " << k;
            }
            EXPECT_TRUE (run.flashHoldsImage && run.dspHoldsImage) << "a success without the images, " << fault << " " << k;
            continue;
        }

        ++failures;
        EXPECT_EQ (outcome, HeadlessResult::Outcome::failure) << k;
        EXPECT_LE (k, total) << "no fault, yet a failure: " << run.result.reason;
        if (blink)
            continue; // its ports still work: a message after the blink is no fault
        EXPECT_EQ (run.sentAfterUnplug, 0) << "sent to a unit that had gone after message " << k;
        EXPECT_LT (run.unplugToEndMs, promptMs) << "unplugged after message " << k << ": " << run.result.reason;
    }

    std::printf ("%s sweep, %s half: %d runs and the clean one, %d failures, %d successes, slowest run %.2f s; %d messages in a full update\n",
                 fault.toRawUTF8(),
                 qexHalf ? "QEX" : "DSP",
                 (int) points.size(),
                 failures,
                 successes,
                 slowest,
                 total);
}

INSTANTIATE_TEST_SUITE_P (Full,
                          UnplugSweep,
                          ::testing::Values (SweepKind{false, "unplug-after"}, SweepKind{true, "unplug-after"}, SweepKind{false, "blink-after"}, SweepKind{true, "blink-after"}),
                          [] (const auto& paramInfo)
                          { return std::string (paramInfo.param.qexHalf ? "Qex" : "Dsp") + (paramInfo.param.fault[0] == 'b' ? "Blink" : "Unplug"); });
