#pragma once

namespace zelvor
{
// Why the link's last transfer did not write its image, as the link saw it. One value, so that
// the window, the headless driver and the demo all tell the same reason.
struct RunFailure
{
    enum class Cause
    {
        none,          // no failure, or none the link saw (the caller knows better)
        cancelled,     // the user stopped it
        unitGone,      // its ports went from the system or stopped being the unit's
        noAnswer,      // a request had no answer within its time
        unexpected,    // the unit answered something else than the step asks for
        lateAnswer,    // a block's acknowledgement came when none was awaited
        dspError,      // the DSP end message was answered "ERR"
        dspChecksum,   // ... "CHECKSUM FAILED"
        loaderNotBack, // the loader was not listed again within its restart time
        portsHeld,     // the loader came back with its ports held by another program
        anotherUnit,   // another unit was listed beside the one written
        mapUnusable,   // the unit's memory map does not take the image
        sendStalled    // the platform never completed a send
    };

    enum class Step
    {
        none,
        identity,       // who are you?
        loaderSwitch,   // go into your loader
        loaderIdentity, // the loader after its restart
        map,            // the memory map
        beginWrite,     // open the write
        blocks,         // the QEX blocks: done of total
        dspImage,       // the DSP replay: done of total bytes
        dspEnd          // the DSP end message and its answer
    };

    Cause cause = Cause::none;
    Step step = Step::none;
    int done = 0;
    int total = 0;
};
} // namespace zelvor
