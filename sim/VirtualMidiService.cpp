#include "sim/VirtualMidiService.h"

#include "link/Pacing.h"
#include "sim/ClockedScheduler.h"
#include "sim/MidiStreamAssembler.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace zelvor
{
namespace
{
    // Protocol ms a listing may lag behind the changes that fell due (see catchUp).
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
    std::mutex mutex;
    std::condition_variable callbackEnded; // an input callback on the delivery thread returned

    std::vector<std::shared_ptr<VirtualPort>> inputs;  // listed, in insertion order
    std::vector<std::shared_ptr<VirtualPort>> outputs; // listed, in insertion order
    std::vector<std::shared_ptr<InputHandleCore>> inputHandles;
    int nextPortId = 1;
    int nextDevice = 20; // where ALSA's sequencer numbers the first card's client
    bool namesOnly = false;
    bool inputsReversed = false;
    bool outputsReversed = false;

    const InputHandleCore* callbackInFlight = nullptr;

    std::mutex tapMutex; // held while the tap runs, so that replacing it waits for a call in flight
    TrafficTap tap;

    std::atomic<bool> wholeMessagesOnly{false};
    std::atomic<bool> shortSendsLost{false};

    // A driver that does not complete a send: sends block while this is set.
    std::mutex sendGateMutex;
    std::condition_variable sendGateOpened;
    bool sendsStall = false; // under sendGateMutex

    // The delivery thread. Last, so that it ends before the rest of the state goes.
    ClockedScheduler scheduler;

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

    // A listing shows every change that fell due more than a moment ago. On a busy machine the
    // delivery thread can fall behind the protocol's clock by more than a unit's restart margin
    // at the tests' speeds, and a listing taken meanwhile would show a unit still away that by
    // that clock is back: a lag no real service has.
    void catchUp()
    {
        scheduler.catchUpTo (Pacing::elapsedMilliseconds() - listingLagMs);
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
            callbackEnded.notify_all();
        }
    }

    void stopHandle (InputHandleCore& handle, bool close)
    {
        std::unique_lock<std::mutex> lock (mutex);
        handle.started = false;
        handle.closed = handle.closed || close;

        // The owner of the callback may be deleted as soon as this returns, so a call in
        // progress on the delivery thread must finish first, unless that call is our caller.
        if (! scheduler.onOwnThread())
            callbackEnded.wait (lock, [this, &handle] { return callbackInFlight != &handle; });

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
}

VirtualMidiService::~VirtualMidiService()
{
    // Ports handed out may keep the state alive; nothing is delivered after the service.
    state->scheduler.stop();
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
    // Shared, not moved: moving a MidiMessage onto one that owns heap storage leaks that storage
    // in this JUCE release.
    state->scheduler.schedule (
        delayMilliseconds,
        [s = state.get(), inputPortId, copy = std::make_shared<const juce::MidiMessage> (message)]
        { s->deliverNow (inputPortId, *copy); });
}

void VirtualMidiService::schedule (double delayMilliseconds, std::function<void()> action)
{
    state->scheduler.schedule (delayMilliseconds, std::move (action));
}

void VirtualMidiService::waitUntilIdle()
{
    state->scheduler.waitUntilIdle();
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
    state->catchUp();
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->infoLocked (true);
}

juce::Array<MidiPortInfo> VirtualMidiService::listOutputs()
{
    state->catchUp();
    const std::lock_guard<std::mutex> lock (state->mutex);
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
