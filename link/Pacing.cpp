#include "link/Pacing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#if defined(__linux__)
 #include <sys/prctl.h>
#endif

namespace zelvor::Pacing
{
namespace
{
    using Clock = std::chrono::steady_clock;

    // The speed is changed between runs, not during one, so three independent atomics are
    // enough: a reader racing a change sees a slightly stale but never torn value.
    std::atomic<double> currentSpeed{1.0};
    std::atomic<Clock::rep> realAnchor{Clock::now().time_since_epoch().count()};
    std::atomic<double> protocolAnchor{0.0};
    std::atomic<WindowThreadWait> windowThreadWait{nullptr};

    // Written only by its own thread; shared so that a test can read it after the thread ended.
    std::shared_ptr<std::atomic<double>>& ownCounter()
    {
        thread_local auto counter = std::make_shared<std::atomic<double>> (0.0);
        return counter;
    }

    // The thread this one acts for, if any (see ActingFor).
    thread_local SleepCounter actingFor;

    double realMillisecondsSinceAnchor (Clock::time_point now)
    {
        const Clock::time_point anchor{Clock::duration (realAnchor.load())};
        return std::chrono::duration<double, std::milli> (now - anchor).count();
    }
} // namespace

void sleep (double protocolMilliseconds)
{
    if (! (protocolMilliseconds > 0.0))
        return;

#if defined(__linux__)
    // The kernel may wake a sleeper up to 50 us late to batch timers; over the thousands of
    // pauses of a run that adds up, so the pacing threads ask for their wakes on time.
    thread_local const bool onTime = prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void) onTime;
#endif

    auto& counter = ownCounter();
    counter->store (counter->load() + protocolMilliseconds);
    const auto realMicroseconds = static_cast<long long> ((protocolMilliseconds * 1000.0) / getSpeed());

    if (waitOnWindowThread ((double) realMicroseconds / 1000.0))
        return;

    // Never shorter than asked: MinGW's sleep rounds a part of a millisecond down to nothing,
    // which would let a count of sleeps run out long before its protocol time has passed.
    const auto deadline = Clock::now() + std::chrono::microseconds (realMicroseconds);
    for (auto now = Clock::now(); now < deadline; now = Clock::now())
    {
#if defined(_WIN32)
        std::this_thread::sleep_for (std::chrono::ceil<std::chrono::milliseconds> (deadline - now));
#else
        std::this_thread::sleep_for (deadline - now);
#endif
    }
}

double sleptOnThisThread()
{
    return actingFor != nullptr ? actingFor->load() : ownCounter()->load();
}

SleepCounter sleepCounterOfThisThread()
{
    return actingFor != nullptr ? actingFor : SleepCounter (ownCounter());
}

ActingFor::ActingFor (SleepCounter other) : previous (std::move (actingFor))
{
    actingFor = std::move (other);
}

ActingFor::~ActingFor()
{
    actingFor = std::move (previous);
}

void setWindowThreadWait (WindowThreadWait wait)
{
    windowThreadWait.store (wait);
}

bool waitOnWindowThread (double realMilliseconds)
{
    auto* wait = windowThreadWait.load();
    return wait != nullptr && wait (realMilliseconds);
}

double elapsedMilliseconds()
{
    return protocolAnchor.load() + realMillisecondsSinceAnchor (Clock::now()) * currentSpeed.load();
}

void setSpeed (double speed)
{
    if (! (speed > 0.0))
        speed = 1.0;
    speed = std::min (std::max (speed, minSpeed), maxSpeed);

    const auto now = Clock::now();
    protocolAnchor.store (protocolAnchor.load() + realMillisecondsSinceAnchor (now) * currentSpeed.load());
    realAnchor.store (now.time_since_epoch().count());
    currentSpeed.store (speed);
}

double getSpeed()
{
    return currentSpeed.load();
}
} // namespace zelvor::Pacing
