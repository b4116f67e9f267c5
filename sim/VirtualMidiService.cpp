#include "sim/VirtualMidiService.h"

#include "link/Pacing.h"
#include "sim/MidiStreamAssembler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace zelvor
{
namespace
{
    // The delivery thread never sleeps longer than this in real time, so that a speed change
    // made while it waits takes effect promptly.
    constexpr double maxRealWaitMilliseconds = 10.0;
    // Protocol ms a listing may lag behind the changes that fell due (see catchUpLocked).
    constexpr double listingLagMs = 100.0;
} // namespace

struct VirtualPort
{
    int id = 0;
    bool isInput = false;
    int device = 0;
    juce::String name;
    VirtualMidiService::DeviceSink sink;

    // Written under the service's lock, read without it by senders.
    std::atomic<bool> removed{false};
    bool held = false;
    double hiddenUntil = -1.0; // protocol ms: left out of the listings until then

    // Byte-stream assembly of what the host writes to an output port. The lock is held while
    // the sink runs, so that the device sees one sender's messages in order.
    std::mutex assemblyMutex;
    MidiStreamAssembler assembler;
};

struct InputHandleCore
{
    std::shared_ptr<VirtualPort> port;
    juce::MidiInputCallback* callback = nullptr;
    bool started = false; // under the service's lock
    bool closed = false;  // under the service's lock
};

struct VirtualMidiService::State
{
    struct Item
    {
        double due = 0.0;
        std::uint64_t sequence = 0;
        int portId = 0; // delivery target; unused for an action
        // Held through a pointer: moving a MidiMessage onto one that owns heap storage leaks
        // that storage in this JUCE release, and the queue moves its items as it sorts.
        std::unique_ptr<juce::MidiMessage> message;
        std::function<void()> action; // set for an action, empty for a delivery
    };

    std::mutex mutex;
    std::condition_variable wake;    // the delivery thread: new work or quitting
    std::condition_variable settled; // waiters: an item or a callback finished

    std::vector<std::shared_ptr<VirtualPort>> inputs;  // listed, in insertion order
    std::vector<std::shared_ptr<VirtualPort>> outputs; // listed, in insertion order
    std::vector<std::shared_ptr<InputHandleCore>> inputHandles;
    std::vector<Item> queue; // kept sorted by (due, sequence)
    std::uint64_t nextSequence = 0;
    int nextPortId = 1;
    int nextDevice = 20; // where ALSA's sequencer numbers the first card's client
    bool namesOnly = false;
    bool inputsReversed = false;
    bool outputsReversed = false;
    bool quit = false;

    int itemsRunning = 0;
    double runningDue = 0.0; // of the item running, while one is
    const InputHandleCore* callbackInFlight = nullptr;

    std::mutex tapMutex; // held while the tap runs, so that replacing it waits for a call in flight
    TrafficTap tap;

    std::thread thread;
    std::thread::id threadId;

    std::atomic<bool> wholeMessagesOnly{false};
    std::atomic<bool> shortSendsLost{false};

    // A driver that does not complete a send: sends block while this is set.
    std::mutex sendGateMutex;
    std::condition_variable sendGateOpened;
    bool sendsStall = false; // under sendGateMutex

    void passSendGate()
    {
        std::unique_lock<std::mutex> lock (sendGateMutex);
        sendGateOpened.wait (lock, [this] { return ! sendsStall; });
    }

    void tapTraffic (bool toDevice, const std::uint8_t* data, int size)
    {
        const std::lock_guard<std::mutex> tapLock (tapMutex);
        if (tap)
            tap (toDevice, data, size);
    }

    void enqueue (double delayMilliseconds, Item item)
    {
        item.due = Pacing::elapsedMilliseconds() + std::max (0.0, delayMilliseconds);
        {
            const std::lock_guard<std::mutex> lock (mutex);
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

    // A listing shows every change that fell due more than a moment ago. On a busy machine the
    // delivery thread can fall behind the protocol's clock by more than a unit's restart margin
    // at the tests' speeds, and a listing taken meanwhile would show a unit still away that by
    // that clock is back: a lag no real service has.
    void catchUpLocked (std::unique_lock<std::mutex>& lock)
    {
        if (std::this_thread::get_id() == threadId)
            return;
        const auto by = Pacing::elapsedMilliseconds() - listingLagMs;
        settled.wait (lock,
                      [this, by]
                      { return (queue.empty() || queue.front().due > by) && (itemsRunning == 0 || runningDue > by); });
    }

    // The ports a listing shows now, in list order.
    std::vector<std::shared_ptr<VirtualPort>> listedLocked (bool inputList) const
    {
        const auto now = Pacing::elapsedMilliseconds();
        std::vector<std::shared_ptr<VirtualPort>> listed;
        for (const auto& port : inputList ? inputs : outputs)
            if (port->hiddenUntil <= now)
                listed.push_back (port);
        if (inputList ? inputsReversed : outputsReversed)
            std::reverse (listed.begin(), listed.end());
        return listed;
    }

    static juce::String identifierOf (const VirtualPort& port)
    {
        return juce::String (port.device) + "-" + juce::String (port.id);
    }

    juce::Array<MidiPortInfo> infoLocked (bool inputList) const
    {
        juce::Array<MidiPortInfo> ports;
        juce::StringArray namesSoFar;
        for (const auto& port : listedLocked (inputList))
        {
            auto name = port->name;
            if (namesOnly)
            {
                const int earlier = countOf (namesSoFar, name);
                namesSoFar.add (name);
                if (earlier > 0)
                    name = juce::String (earlier + 1) + "- " + name;
            }
            ports.add ({name,
                        identifierOf (*port),
                        namesOnly || port->device == 0 ? juce::String() : juce::String (port->device)});
        }
        return ports;
    }

    static int countOf (const juce::StringArray& names, const juce::String& name)
    {
        int count = 0;
        for (const auto& n : names)
            count += n == name ? 1 : 0;
        return count;
    }

    std::shared_ptr<VirtualPort> listedWithIdentifierLocked (bool inputList, const juce::String& identifier) const
    {
        for (const auto& port : listedLocked (inputList))
            if (identifierOf (*port) == identifier)
                return port;
        return nullptr;
    }

    std::shared_ptr<VirtualPort> findPortLocked (int portId) const
    {
        for (const auto* list : {&inputs, &outputs})
            for (const auto& port : *list)
                if (port->id == portId)
                    return port;
        return nullptr;
    }

    void deliverNow (int portId, const juce::MidiMessage& message)
    {
        std::vector<std::shared_ptr<InputHandleCore>> targets;
        {
            const std::lock_guard<std::mutex> lock (mutex);
            const auto port = findPortLocked (portId);
            if (port == nullptr || ! port->isInput)
                return; // unplugged before the message got out

            for (const auto& handle : inputHandles)
                if (handle->port == port)
                    targets.push_back (handle);
        }

        tapTraffic (false, message.getRawData(), message.getRawDataSize());

        for (const auto& handle : targets)
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);
                if (! handle->started || handle->closed || handle->port->removed)
                    continue;
                callbackInFlight = handle.get();
            }

            handle->callback->handleIncomingMidiMessage (nullptr, message);

            {
                const std::lock_guard<std::mutex> lock (mutex);
                callbackInFlight = nullptr;
            }
            settled.notify_all();
        }
    }

    void run()
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

            if (item.action)
                item.action();
            else
                deliverNow (item.portId, *item.message);

            item = {}; // an action's captures are released before the item counts as done
            lock.lock();
            --itemsRunning;
            settled.notify_all();
        }
    }

    void stopHandle (InputHandleCore& handle, bool close)
    {
        std::unique_lock<std::mutex> lock (mutex);
        handle.started = false;
        handle.closed = handle.closed || close;

        // The owner of the callback may be deleted as soon as this returns, so a call in
        // progress on the delivery thread must finish first, unless that call is our caller.
        if (std::this_thread::get_id() != threadId)
            settled.wait (lock, [this, &handle] { return callbackInFlight != &handle; });

        if (close)
            inputHandles.erase (std::remove_if (inputHandles.begin(),
                                                inputHandles.end(),
                                                [&handle] (const auto& h) { return h.get() == &handle; }),
                                inputHandles.end());
    }

    void assembleAndForward (VirtualPort& port, const std::uint8_t* data, int size)
    {
        const std::lock_guard<std::mutex> assemblyLock (port.assemblyMutex);

        // Each send on its own: nothing carries over from the one before or to the next.
        const bool eachSendOnItsOwn = wholeMessagesOnly.load();
        if (eachSendOnItsOwn)
            port.assembler.reset();

        port.assembler.feed (data,
                             size,
                             [&port] (const std::uint8_t* bytes, int count)
                             {
                                 if (port.sink && ! port.removed)
                                     port.sink (juce::MidiMessage (bytes, count));
                             });

        if (eachSendOnItsOwn)
            port.assembler.reset();
    }
};

namespace
{
    class VirtualInputPort : public MidiInputPort
    {
    public:
        VirtualInputPort (std::shared_ptr<VirtualMidiService::State> s, std::shared_ptr<InputHandleCore> c)
            : state (std::move (s)), core (std::move (c))
        {
        }

        ~VirtualInputPort() override
        {
            state->stopHandle (*core, true);
        }

        void start() override
        {
            const std::lock_guard<std::mutex> lock (state->mutex);
            core->started = ! core->closed;
        }

        void stop() override
        {
            state->stopHandle (*core, false);
        }

        bool stillConnected() const override
        {
            return ! core->port->removed;
        }

    private:
        std::shared_ptr<VirtualMidiService::State> state;
        std::shared_ptr<InputHandleCore> core;
    };

    class VirtualOutputPort : public MidiOutputPort
    {
    public:
        VirtualOutputPort (std::shared_ptr<VirtualMidiService::State> s, std::shared_ptr<VirtualPort> p)
            : state (std::move (s)), port (std::move (p))
        {
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            state->passSendGate();
            const auto* data = message.getRawData();
            const auto size = message.getRawDataSize();
            state->tapTraffic (true, data, size);

            const bool lost = state->shortSendsLost.load() && size < 4 && data[0] != 0xF0;
            if (! port->removed && ! lost)
                state->assembleAndForward (*port, data, size);
        }

        bool stillConnected() const override
        {
            return ! port->removed;
        }

    private:
        std::shared_ptr<VirtualMidiService::State> state;
        std::shared_ptr<VirtualPort> port;
    };
} // namespace

VirtualMidiService::VirtualMidiService() : state (std::make_shared<State>())
{
    // The thread id is recorded before anything can call stop(), which compares against it.
    const std::lock_guard<std::mutex> lock (state->mutex);
    state->thread = std::thread ([s = state.get()] { s->run(); });
    state->threadId = state->thread.get_id();
}

VirtualMidiService::~VirtualMidiService()
{
    {
        const std::lock_guard<std::mutex> lock (state->mutex);
        state->quit = true;
    }
    state->wake.notify_all();
    if (state->thread.joinable())
        state->thread.join();

    // Pending actions may hold a device's state; they are released outside the lock.
    std::vector<State::Item> abandoned;
    {
        const std::lock_guard<std::mutex> lock (state->mutex);
        abandoned.swap (state->queue);
    }
    state->settled.notify_all();
}

int VirtualMidiService::newDevice()
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->nextDevice++;
}

int VirtualMidiService::addInputPort (const juce::String& name, int device)
{
    auto port = std::make_shared<VirtualPort>();
    port->isInput = true;
    port->name = name;

    const std::lock_guard<std::mutex> lock (state->mutex);
    port->id = state->nextPortId++;
    port->device = device;
    state->inputs.push_back (port);
    return port->id;
}

void VirtualMidiService::addOtherDevice (const juce::String& name)
{
    const auto device = newDevice();
    addInputPort (name, device);
    addOutputPort (
        name, [] (const juce::MidiMessage&) {}, device);
}

int VirtualMidiService::addOutputPort (const juce::String& name, DeviceSink sink, int device)
{
    auto port = std::make_shared<VirtualPort>();
    port->name = name;
    port->sink = std::move (sink);

    const std::lock_guard<std::mutex> lock (state->mutex);
    port->id = state->nextPortId++;
    port->device = device;
    state->outputs.push_back (port);
    return port->id;
}

void VirtualMidiService::removePort (int portId)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    for (auto* list : {&state->inputs, &state->outputs})
    {
        for (auto it = list->begin(); it != list->end(); ++it)
        {
            if ((*it)->id == portId)
            {
                (*it)->removed = true;
                list->erase (it);
                return;
            }
        }
    }
}

void VirtualMidiService::setHeld (int portId, bool held)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    if (auto port = state->findPortLocked (portId))
        port->held = held;
}

void VirtualMidiService::hideFromListings (int portId, double milliseconds)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    if (auto port = state->findPortLocked (portId))
        port->hiddenUntil = Pacing::elapsedMilliseconds() + milliseconds;
}

void VirtualMidiService::deliver (int inputPortId, const juce::MidiMessage& message, double delayMilliseconds)
{
    State::Item item;
    item.portId = inputPortId;
    item.message = std::make_unique<juce::MidiMessage> (message);
    state->enqueue (delayMilliseconds, std::move (item));
}

void VirtualMidiService::schedule (double delayMilliseconds, std::function<void()> action)
{
    if (! action)
        return;

    State::Item item;
    item.action = std::move (action);
    state->enqueue (delayMilliseconds, std::move (item));
}

void VirtualMidiService::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock (state->mutex);

    // Waiting on the delivery thread for its own work would never end.
    if (std::this_thread::get_id() == state->threadId)
        return;

    for (;;)
    {
        const auto now = Pacing::elapsedMilliseconds();
        const bool dueWaiting = ! state->queue.empty() && state->queue.front().due <= now;
        if (! dueWaiting && state->itemsRunning == 0)
            return;

        // An item waiting to fall due is picked up by the delivery thread, not announced, so
        // the wait is bounded and the condition checked again.
        state->settled.wait_for (lock, std::chrono::milliseconds (2));
    }
}

void VirtualMidiService::setTrafficTap (TrafficTap tap)
{
    const std::lock_guard<std::mutex> tapLock (state->tapMutex);
    state->tap = std::move (tap);
}

void VirtualMidiService::setWholeMessagesOnly (bool wholeOnly)
{
    state->wholeMessagesOnly.store (wholeOnly);
}

void VirtualMidiService::setShortSendsLost (bool lost)
{
    state->shortSendsLost.store (lost);
}

void VirtualMidiService::setSendsStall (bool stall)
{
    {
        const std::lock_guard<std::mutex> lock (state->sendGateMutex);
        state->sendsStall = stall;
    }
    state->sendGateOpened.notify_all();
}

bool VirtualMidiService::sendsWholeMessagesOnly() const
{
    return state->wholeMessagesOnly.load();
}

void VirtualMidiService::setNamesOnly (bool namesOnly)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    state->namesOnly = namesOnly;
}

void VirtualMidiService::setListingReversed (bool inputs, bool outputs)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    state->inputsReversed = inputs;
    state->outputsReversed = outputs;
}

juce::Array<MidiPortInfo> VirtualMidiService::listInputs()
{
    std::unique_lock<std::mutex> lock (state->mutex);
    state->catchUpLocked (lock);
    return state->infoLocked (true);
}

juce::Array<MidiPortInfo> VirtualMidiService::listOutputs()
{
    std::unique_lock<std::mutex> lock (state->mutex);
    state->catchUpLocked (lock);
    return state->infoLocked (false);
}

std::unique_ptr<MidiInputPort> VirtualMidiService::openInputPort (const juce::String& identifier,
                                                                  juce::MidiInputCallback* callback)
{
    if (callback == nullptr)
        return nullptr;

    const std::lock_guard<std::mutex> lock (state->mutex);
    const auto port = state->listedWithIdentifierLocked (true, identifier);
    if (port == nullptr || port->held)
        return nullptr;

    auto core = std::make_shared<InputHandleCore>();
    core->port = port;
    core->callback = callback;
    state->inputHandles.push_back (core);
    return std::make_unique<VirtualInputPort> (state, std::move (core));
}

std::unique_ptr<MidiOutputPort> VirtualMidiService::openOutputPort (const juce::String& identifier)
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    const auto port = state->listedWithIdentifierLocked (false, identifier);
    if (port == nullptr || port->held)
        return nullptr;

    return std::make_unique<VirtualOutputPort> (state, port);
}
} // namespace zelvor
