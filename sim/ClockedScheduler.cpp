#include "sim/ClockedScheduler.h"

#include "link/Pacing.h"

#include <algorithm>
#include <chrono>

namespace zelvor
{
namespace
{
    // The thread never sleeps longer than this in real time, so that a speed change made while it
    // waits takes effect promptly.
    constexpr double maxRealWaitMilliseconds = 10.0;
} // namespace

ClockedScheduler::ClockedScheduler()
{
    // The thread id is recorded before anything can ask for it.
    const std::lock_guard<std::mutex> lock (mutex);
    thread = std::thread ([this] { run(); });
    threadId = thread.get_id();
}

ClockedScheduler::~ClockedScheduler()
{
    stop();
}

void ClockedScheduler::stop()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        quit = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();

    std::vector<Item> abandoned;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        abandoned.swap (queue);
    }
    settled.notify_all();
}

bool ClockedScheduler::onOwnThread() const
{
    return std::this_thread::get_id() == threadId;
}

void ClockedScheduler::schedule (double delayMilliseconds, std::function<void()> action)
{
    if (! action)
        return;

    Item item;
    item.due = Pacing::elapsedMilliseconds() + std::max (0.0, delayMilliseconds);
    item.action = std::move (action);
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (quit)
            return;
        item.sequence = nextSequence++;
        const auto position = std::upper_bound (queue.begin(),
                                                queue.end(),
                                                item,
                                                [] (const Item& a, const Item& b)
                                                {
                                                    if (a.due < b.due || b.due < a.due)
                                                        return a.due < b.due;
                                                    return a.sequence < b.sequence;
                                                });
        queue.insert (position, std::move (item));
    }
    wake.notify_all();
}

void ClockedScheduler::waitUntilIdle()
{
    // Waiting on the thread for its own work would never end.
    if (onOwnThread())
        return;

    std::unique_lock<std::mutex> lock (mutex);
    for (;;)
    {
        const auto now = Pacing::elapsedMilliseconds();
        const bool dueWaiting = ! queue.empty() && queue.front().due <= now;
        if (! dueWaiting && itemsRunning == 0)
            return;

        // An action waiting to fall due is picked up by the thread, not announced, so the wait
        // is bounded and the condition checked again.
        settled.wait_for (lock, std::chrono::milliseconds (2));
    }
}

void ClockedScheduler::catchUpTo (double protocolMilliseconds)
{
    if (onOwnThread())
        return;

    std::unique_lock<std::mutex> lock (mutex);
    settled.wait (lock,
                  [this, protocolMilliseconds]
                  {
                      return quit || ((queue.empty() || queue.front().due > protocolMilliseconds) &&
                                      (itemsRunning == 0 || runningDue > protocolMilliseconds));
                  });
}

void ClockedScheduler::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    while (! quit)
    {
        if (queue.empty())
        {
            wake.wait (lock);
            continue;
        }

        const auto remaining = queue.front().due - Pacing::elapsedMilliseconds();
        if (remaining > 0.0)
        {
            const auto realMilliseconds = std::min (remaining / Pacing::getSpeed(), maxRealWaitMilliseconds);
            wake.wait_for (lock, std::chrono::duration<double, std::milli> (realMilliseconds));
            continue;
        }

        auto item = std::move (queue.front());
        queue.erase (queue.begin());
        ++itemsRunning;
        runningDue = item.due;
        lock.unlock();

        item.action();

        item = {}; // an action's captures are released before it counts as done
        lock.lock();
        --itemsRunning;
        settled.notify_all();
    }
}
} // namespace zelvor
