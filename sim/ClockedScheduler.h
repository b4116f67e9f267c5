#pragma once

#include <juce_core/juce_core.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelvor
{
// Runs actions on a thread of its own once they fall due on the protocol's clock (Pacing): in
// the order they fall due, and those due together in the order they were given. The virtual MIDI
// service delivers through it, as an OS MIDI thread delivers input, and the virtual unit times
// its answers and restarts with it.
class ClockedScheduler
{
public:
    ClockedScheduler();
    ~ClockedScheduler(); // stops

    void schedule (double delayMilliseconds, std::function<void()> action);

    // Blocks until every action due so far has run. At once on the scheduler's own thread.
    void waitUntilIdle();
    // Blocks until nothing due before `protocolMilliseconds` waits or runs. At once on the
    // scheduler's own thread.
    void catchUpTo (double protocolMilliseconds);
    bool onOwnThread() const;

    // Ends the thread after the action it runs; those not run are dropped, outside the lock, as
    // they may hold what their owner is destroying. Later calls do nothing. Never from an action.
    void stop();

private:
    struct Item
    {
        double due = 0.0;
        std::uint64_t sequence = 0;
        std::function<void()> action;
    };

    void run();

    std::mutex mutex;
    std::condition_variable wake;    // the thread: new work, or stopping
    std::condition_variable settled; // waiters: an action finished
    std::vector<Item> queue;         // kept sorted by (due, sequence)
    std::uint64_t nextSequence = 0;
    int itemsRunning = 0;
    double runningDue = 0.0; // of the action running, while one is
    bool quit = false;
    std::thread thread;
    std::thread::id threadId;

    JUCE_DECLARE_NON_COPYABLE (ClockedScheduler)
};
} // namespace zelvor
