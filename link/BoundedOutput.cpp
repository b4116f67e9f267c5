#include "link/BoundedOutput.h"

#include "link/Pacing.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace zelvor
{
// The one thread that sends what is handed over, for the whole program: made once and kept,
// since threads made and ended by the hundred cost more on some platforms than the sends they
// carry. Replaced when a send on it does not complete in time; the stuck one ends, and closes
// the port it was left, if the send ever completes.
struct SendHandOver
{
    void run()
    {
        std::unique_lock<std::mutex> lock (mutex);
        for (;;)
        {
            changed.wait (lock, [this] { return job.has_value() || stuck.load(); });
            if (! job.has_value())
                break;

            const auto message = std::move (*job);
            auto* const target = port;
            job.reset();
            lock.unlock();
            {
                // The send is the asking thread's step: its pace is what the unit sees.
                const Pacing::ActingFor acting (asker);
                target->sendMessageNow (message);
            }
            lock.lock();
            port = nullptr;
            asker = nullptr;
            ++completed;
            changed.notify_all();
        }
        // Replaced: whatever port it was left closes here, outside the lock.
        const auto left = std::move (orphan);
        lock.unlock();
    }

    std::mutex mutex;
    std::condition_variable changed;
    MidiOutputPort* port = nullptr;       // of the send handed over or in progress
    std::optional<juce::MidiMessage> job; // handed over and not yet taken
    Pacing::SleepCounter asker;
    std::uint64_t handed = 0, completed = 0;
    std::atomic<bool> stuck{false};
    std::unique_ptr<MidiOutputPort> orphan; // the port of its stuck send, once its owner is gone
};

namespace
{
    // One hand-over at a time; the sender in use, a new one after a stuck send.
    std::mutex handOverTurn;
    std::shared_ptr<SendHandOver> liveSender;

    std::shared_ptr<SendHandOver> senderForHandOver()
    {
        if (liveSender == nullptr || liveSender->stuck.load())
        {
            liveSender = std::make_shared<SendHandOver>();
            std::thread ([sender = liveSender] { sender->run(); }).detach();
        }
        return liveSender;
    }
} // namespace

BoundedOutput::BoundedOutput (std::unique_ptr<MidiOutputPort> p) : port (std::move (p))
{
}

BoundedOutput::~BoundedOutput()
{
    // A send on this port that has not completed still holds it: its sender closes it if the
    // send ever completes, and otherwise it stays open for good.
    if (stuckOn != nullptr)
    {
        const std::lock_guard<std::mutex> lock (stuckOn->mutex);
        if (stuckOn->port == port.get())
            stuckOn->orphan = std::move (port);
    }
}

void BoundedOutput::sendHere (const juce::MidiMessage& message)
{
    if (! stuckFlag.load())
        port->sendMessageNow (message);
}

bool BoundedOutput::sendWithin (const juce::MidiMessage& message, double realLimitMs)
{
    using Clock = std::chrono::steady_clock;
    if (stuckFlag.load())
        return false;

    const std::lock_guard<std::mutex> turn (handOverTurn);
    const auto sender = senderForHandOver();
    auto& s = *sender;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration> (
                                             std::chrono::duration<double, std::milli> (realLimitMs));
    std::unique_lock<std::mutex> lock (s.mutex);
    s.port = port.get();
    s.job = message;
    s.asker = Pacing::sleepCounterOfThisThread();
    const auto ticket = ++s.handed;
    s.changed.notify_all();

    auto done = [&s, ticket] { return s.completed >= ticket; };
    // Most sends complete at once: a short plain wait spares the window thread a loop turn.
    s.changed.wait_for (lock, std::chrono::milliseconds (1), done);
    bool windowThread = true;
    while (! done())
    {
        const auto left = std::chrono::duration<double, std::milli> (deadline - Clock::now()).count();
        if (left <= 0.0)
        {
            // Not taken yet (the thread not run for the whole limit) or never completed: either
            // way this port is not written again, and a message not taken is not sent later.
            if (s.job.has_value())
            {
                s.job.reset();
                s.port = nullptr;
            }
            s.stuck.store (true);
            s.changed.notify_all();
            stuckOn = sender;
            stuckFlag.store (true);
            return false;
        }

        if (windowThread)
        {
            lock.unlock();
            windowThread = Pacing::waitOnWindowThread (std::min (left, 5.0));
            lock.lock();
        }
        else
        {
            s.changed.wait_until (lock, deadline, done);
        }
    }
    return true;
}

bool BoundedOutput::stillConnected() const
{
    return ! stuckFlag.load() && port->stillConnected();
}

bool BoundedOutput::stuck() const
{
    return stuckFlag.load();
}
} // namespace zelvor
