// Takes the hold that keeps the computer awake during a run, says so, and lets it go when its
// input ends: the session-bus test checks what reached the bus in between.
#include "update/KeepAwake.h"

#include <cstdio>

int main (int argc, char** argv)
{
    {
        const zelvor::KeepAwake awake (argc > 1 ? argv[1] : "probe");
        std::puts ("held");
        std::fflush (stdout);
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
        {
        }
    }
    std::puts ("released");
    return 0;
}
