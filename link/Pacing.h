#pragma once

#include <atomic>
#include <memory>

// Every fixed wait of the update protocol (poll steps, pauses, the unit's own delays in the
// virtual unit) goes through here. Tests and the demo raise the speed so that a run that takes
// minutes on the real unit takes seconds, while the protocol itself counts the same steps.
namespace zelvor::Pacing
{
// Sleeps for the given number of protocol milliseconds (that many / speed in real time).
void sleep (double protocolMilliseconds);

// Protocol milliseconds this thread has slept through sleep() since it started: what a piece
// of the protocol waits, counted apart from whatever a busy machine adds to it.
double sleptOnThisThread();

// The same count as a value that outlives its thread, for reading from another.
using SleepCounter = std::shared_ptr<const std::atomic<double>>;
SleepCounter sleepCounterOfThisThread();

// While one lives, this thread does a step on behalf of another (a send handed to the sender
// thread): sleptOnThisThread and sleepCounterOfThisThread answer for that other thread.
class ActingFor
{
public:
    explicit ActingFor (SleepCounter other);
    ~ActingFor();
    ActingFor (const ActingFor&) = delete;
    ActingFor& operator= (const ActingFor&) = delete;

private:
    SleepCounter previous;
};

// A wait on the window thread must keep the windows painting: the application installs one
// here. It gets the real milliseconds to wait and returns false when it cannot take this
// wait (not the window thread, or the program is quitting); sleep() then blocks as usual.
using WindowThreadWait = bool (*) (double realMilliseconds);
void setWindowThreadWait (WindowThreadWait wait);

// Waits real milliseconds through the installed window-thread wait; false, at once, when this
// is not a wait it can take (for a caller that then waits its own way).
bool waitOnWindowThread (double realMilliseconds);

// Protocol milliseconds elapsed since the program started (real time x speed, accumulated
// across speed changes so that it never runs backwards).
double elapsedMilliseconds();

// The speeds the pacing can honour: beyond the top the shortest pauses (20 ms) fall below what
// the system's sleeps resolve.
constexpr double minSpeed = 0.01;
constexpr double maxSpeed = 1000.0;

// 1.0 is real time; 10.0 runs ten times faster. Values below 1 slow time down. Speeds outside
// minSpeed..maxSpeed are brought to the nearer bound; zero, negative or not a number gives 1.
void setSpeed (double speed);
double getSpeed();
} // namespace zelvor::Pacing
