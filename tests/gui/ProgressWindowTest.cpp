// JUCE's own progress window, as the updater runs it, on a real display: the outcome it reports
// must be the one that happened, whenever the Cancel click lands against the window's timer.

#include "link/Pacing.h"
#include "update/Prompts.h"

#include <gtest/gtest.h>

namespace zelvor
{
namespace
{
    class Worker : public juce::ThreadWithProgressWindow
    {
    public:
        explicit Worker (int workFor)
            : juce::ThreadWithProgressWindow ("Firmware Updater", true, true, 10000, "Cancel"), workMs (workFor)
        {
        }

        void run() override
        {
            for (int i = 0; i < workMs && ! threadShouldExit(); ++i)
                wait (1);
        }

        juce::Button* cancelButton()
        {
            for (auto* child : getAlertWindow()->getChildren())
                if (auto* button = dynamic_cast<juce::Button*> (child))
                    return button;
            return nullptr;
        }

    private:
        const int workMs;
    };

    class ProgressWindow : public ::testing::Test
    {
    protected:
        JucePrompts prompts;
        juce::Random random{20261208};
    };
} // namespace

// The window's 100 ms timer can run in the same dispatch as the click and stop the thread
// before the run looks at it: clicks at random moments hit that often enough.
TEST_F (ProgressWindow, ACancelIsReportedAsACancelWheneverTheClickLands)
{
    int endedByItself = 0;
    for (int i = 0; i < 300; ++i)
    {
        Worker worker (5000); // a click that never lands shows as a run that ended by itself
        juce::Timer::callAfterDelay (1 + random.nextInt (150),
                                     [&worker]
                                     {
                                         if (auto* button = worker.cancelButton())
                                             button->triggerClick();
                                     });
        endedByItself += prompts.runWithProgressWindow (worker) ? 1 : 0;
        EXPECT_FALSE (worker.isThreadRunning());
    }
    EXPECT_EQ (endedByItself, 0) << "cancels reported as runs that ended by themselves";
}

TEST_F (ProgressWindow, ARunThatEndsByItselfIsReportedSo)
{
    int cancelled = 0;
    for (int i = 0; i < 60; ++i)
    {
        Worker worker (1 + random.nextInt (150));
        cancelled += prompts.runWithProgressWindow (worker) ? 0 : 1;
    }
    EXPECT_EQ (cancelled, 0);
}
// The program's fixed waits, on the window thread, are waited out once: quitting in one does
// not cut it short (the unit may need it), nor is it then waited out twice. Last here: it quits the application.
TEST_F (ProgressWindow, AQuitDuringAWaitWaitsItOutOnce)
{
    Pacing::setSpeed (1.0);
    Pacing::setWindowThreadWait (&JucePrompts::waitWithWindowsLive);

    const double plainStart = juce::Time::getMillisecondCounterHiRes();
    Pacing::sleep (300);
    const double plain = juce::Time::getMillisecondCounterHiRes() - plainStart;
    EXPECT_GE (plain, 300.0);
    EXPECT_LT (plain, 550.0) << "a wait without a quit was waited twice";

    juce::Timer::callAfterDelay (100, [] { juce::JUCEApplicationBase::quit(); });
    const double start = juce::Time::getMillisecondCounterHiRes();
    Pacing::sleep (600);
    const double took = juce::Time::getMillisecondCounterHiRes() - start;
    Pacing::setWindowThreadWait (nullptr);
    EXPECT_GE (took, 600.0);
    EXPECT_LT (took, 1150.0);
}
} // namespace zelvor

// The tests run inside a JUCE application, as the updater's windows do: JUCE sets up its X
// connection fully (error handlers, the program's name) only for one.
namespace
{
class TestApplication : public juce::JUCEApplicationBase
{
public:
    const juce::String getApplicationName() override
    {
        return "ZelvorWindowTests";
    }
    const juce::String getApplicationVersion() override
    {
        return "1";
    }
    bool moreThanOneInstanceAllowed() override
    {
        return true;
    }
    void anotherInstanceStarted (const juce::String&) override
    {
    }
    void suspended() override
    {
    }
    void resumed() override
    {
    }
    void systemRequestedQuit() override
    {
        quit();
    }
    void unhandledException (const std::exception*, const juce::String&, int) override
    {
    }
    void shutdown() override
    {
    }

    void initialise (const juce::String&) override
    {
        juce::MessageManager::callAsync (
            [this]
            {
                setApplicationReturnValue (RUN_ALL_TESTS());
                // As the updater quits: JUCE's own quit alone can
                // leave its event loop asleep for good.
                prompts.requestQuit();
            });
    }

private:
    zelvor::JucePrompts prompts;
};

juce::JUCEApplicationBase* createApplication()
{
    return new TestApplication();
}
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
