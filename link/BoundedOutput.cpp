#include "link/BoundedOutput.h"

#include "link/Pacing.h"
#include "link/Protocol.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace zelvor
{
namespace
{
    std::atomic<bool> stuckPortsAbandoned{false};
}

struct BoundedOutput::Core
{
    std::unique_ptr<MidiOutputPort> port;
    // Written by the caller before `requested`, read by the sender after it.
    juce::MidiMessage message;
    Pacing::SleepCounter asker;
    std::atomic<int> requested{0};
    std::atomic<int> completed{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> stuck{false};
    juce::WaitableEvent wake;
    juce::WaitableEvent done;
    juce::WaitableEvent ended;

    // The sender's whole life; it owns the core (and so the port) as long as it runs.
    static void run (std::shared_ptr<Core> core)
    {
        for (;;)
        {
            core->wake.wait (-1);
            const auto request = core->requested.load (std::memory_order_acquire);
            if (request != core->completed.load (std::memory_order_relaxed))
            {
                const Pacing::ActingFor actingForTheCaller (core->asker);
                core->port->sendMessageNow (core->message);
                core->completed.store (request, std::memory_order_release);
                core->done.signal();
            }
            if (core->closing.load (std::memory_order_acquire))
            {
                if (core->stuck.load() && stuckPortsAbandoned.load())
                    (void) core->port.release();
                core->ended.signal();
                return;
            }
        }
    }
};

BoundedOutput::BoundedOutput (std::unique_ptr<MidiOutputPort> port) : core (std::make_shared<Core>())
{
    core->port = std::move (port);
    // Detached: it ends when told to close, or, stuck in the driver, whenever the driver lets go.
    std::thread (&Core::run, core).detach();
}

BoundedOutput::~BoundedOutput()
{
    core->closing.store (true, std::memory_order_release);
    core->wake.signal();
    // A free port is closed before this returns, so that it can be opened again at once; a stuck
    // one stays with its sender.
    if (! core->stuck.load())
    {
        core->ended.wait (-1);
        core->port = nullptr;
    }
}

bool BoundedOutput::send (const juce::MidiMessage& message)
{
    if (core->stuck.load())
        return false;

    core->message = message;
    core->asker = Pacing::sleepCounterOfThisThread();
    const auto request = core->requested.load (std::memory_order_relaxed) + 1;
    core->requested.store (request, std::memory_order_release);
    core->wake.signal();

    auto sent = [this, request] { return core->completed.load (std::memory_order_acquire) == request; };

    // Most sends are done in microseconds; only a slow one has the caller wait with the windows
    // live (on the window thread) until the limit.
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + Protocol::sendLimitMs;
    constexpr int quietWaitMs = 20;
    core->done.wait (quietWaitMs);
    while (! sent())
    {
        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (left <= 0.0)
        {
            core->stuck.store (true);
            return false;
        }
        if (! Pacing::waitOnWindowThread (std::min (left, (double) quietWaitMs)))
            core->done.wait ((int) std::ceil (std::min (left, (double) quietWaitMs)));
    }
    return true;
}

void BoundedOutput::abandonStuckPorts()
{
    stuckPortsAbandoned.store (true);
}

bool BoundedOutput::stillConnected() const
{
    return ! core->stuck.load() && core->port->stillConnected();
}

bool BoundedOutput::stalled() const
{
    return core->stuck.load();
}
} // namespace zelvor
