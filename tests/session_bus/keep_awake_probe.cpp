// Takes the hold that keeps the computer awake during a run, says so, and lets it go when its
// input ends: the session-bus test checks what reached the bus in between. While it waits it
// runs GLib's main context, as a program whose toolkit runs GLib's loop does, so that whatever
// GLib does when the bus goes away happens here too.
#include "update/KeepAwake.h"

#include <glib.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

int main (int argc, char** argv)
{
    {
        const zelvor::KeepAwake awake (argc > 1 ? argv[1] : "probe");
        std::puts ("held");
        std::fflush (stdout);
        for (char c = 0; c != '\n';)
        {
            while (g_main_context_iteration (nullptr, FALSE))
            {
            }
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll (&input, 1, 20) > 0 && read (STDIN_FILENO, &c, 1) != 1)
                break;
        }
    }
    std::puts ("released");
    return 0;
}
