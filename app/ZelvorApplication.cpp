#include "app/ZelvorApplication.h"

#include "link/Pacing.h"
#include "update/Prompts.h"

#include <BuiltInVersions.h>

#include <iostream>

#if JUCE_LINUX
 #include <csignal>
 #include <fcntl.h>
 #include <unistd.h>
#endif

namespace zelvor
{
#if JUCE_LINUX
namespace
{
    int signalPipe[2] = {-1, -1};
    volatile std::sig_atomic_t signalsCaught = 0;

    // Only what is safe in a handler: the number goes down a pipe that the event loop watches.
    void onQuitSignal (int signalNumber)
    {
        if (signalsCaught++ > 0)
        {
            std::signal (signalNumber, SIG_DFL);
            std::raise (signalNumber);
            return;
        }
        const auto byte = (unsigned char) signalNumber;
        [[maybe_unused]] auto n = ::write (signalPipe[1], &byte, 1);
    }
} // namespace

void ZelvorApplication::listenForQuitSignals()
{
    // A log piped to a reader that has gone (`ZelvorUpdater 2>&1 | tee log`, then Ctrl+C) must
    // not kill the program in the middle of a write: the write fails, the run goes on.
    std::signal (SIGPIPE, SIG_IGN);

    // Close-on-exec: the file chooser's helper process must not inherit the pipe.
    if (signalPipe[0] >= 0 || ::pipe2 (signalPipe, O_CLOEXEC) != 0)
        return;
    ::fcntl (signalPipe[1], F_SETFL, O_NONBLOCK);
    juce::LinuxEventLoop::registerFdCallback (signalPipe[0],
                                              [this] (int fd)
                                              {
                                                  unsigned char signalNumber = 0;
                                                  if (::read (fd, &signalNumber, 1) == 1)
                                                  {
                                                      setApplicationReturnValue (128 + signalNumber);
                                                      Prompts::current().requestQuit();
                                                  }
                                              });

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction (signalNumber, &action, nullptr);
}
#else
void ZelvorApplication::listenForQuitSignals()
{
}
#endif

bool ZelvorApplication::checkDisplay()
{
    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr)
        return true;

    std::cerr << "cannot open a display\n";
    setApplicationReturnValue (1);
    quit();
    return false;
}

void ZelvorApplication::initialise (const juce::String&)
{
    if (! checkDisplay())
        return;
    listenForQuitSignals();
    Pacing::setWindowThreadWait (&JucePrompts::waitWithWindowsLive);

    mainWindow = std::make_unique<ZelvorWindow>();
    mainWindow->centreWithSize (ZelvorWindow::width, ZelvorWindow::height);
    mainWindow->setVisible (true);
}

void ZelvorApplication::shutdown()
{
    mainWindow = nullptr;
    Pacing::setWindowThreadWait (nullptr);
}

const juce::String ZelvorApplication::getApplicationName()
{
    return "ZelvorUtil";
}

const juce::String ZelvorApplication::getApplicationVersion()
{
    return BuiltInVersions::program;
}

bool ZelvorApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void ZelvorApplication::anotherInstanceStarted (const juce::String&)
{
}
} // namespace zelvor
