#pragma once

namespace zelvor
{
// Keeps the computer from going to sleep while the unit is being written: a computer that
// sleeps in the middle of a write leaves the unit in its loader. Held for the life of one
// object, made and destroyed on the message thread, which never waits for the system's answer;
// released however the run ends.
class KeepAwake
{
public:
    // What holds the system awake. The system's own is used unless a test installs another.
    struct Service
    {
        virtual ~Service() = default;
        virtual void hold (const char* reason) = 0;
        virtual void release() = 0;
    };

    // nullptr puts the system's back.
    static void install (Service* service);

    explicit KeepAwake (const char* reason);
    ~KeepAwake();

    KeepAwake (const KeepAwake&) = delete;
    KeepAwake& operator= (const KeepAwake&) = delete;

private:
    Service& service;
};
} // namespace zelvor
