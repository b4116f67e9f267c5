#pragma once

#include <cstdint>

// Every fixed figure of the link and of the update run: sizes and limits, pauses and time-outs. Pauses are in the
// unit's milliseconds (Pacing compresses them); sendLimitMs, workerEndLimitMs, cancelTimeOutMs and the input's
// quiet times are real ones.
namespace zelvor::Protocol
{
// Sizes and limits.
constexpr int maxBlocksSent = 16;
constexpr int chunkSize = 256;
constexpr int triesPerChunk = 3;
constexpr int dspMessageBufferSize = 256;
// The largest piece of a DSP message on the Windows MIDI path.
constexpr int dspPieceSize = 180;
constexpr std::int64_t maxImageFileSize = 16 * 1024 * 1024;

// The QEX transfer.
constexpr int handshakeStepMs = 100;
constexpr int handshakeSleeps = 121; // gives up once more than 12000 ms have passed
constexpr int loaderRestartMs = 5500;
constexpr int qexAckStepMs = 40;
constexpr int qexAckSleeps = 1251; // gives up once more than 50000 ms have passed
constexpr int unitCheckSteps = 25; // while awaiting an acknowledgement, the unit's presence is checked every 1000 ms
constexpr int pauseAfterAckMs = 40;
constexpr int afterRetriedAckMs = 1000; // a quiet moment after a chunk that needed a retry
constexpr int settleBeforeCloseMs = 5000;
constexpr int settleAfterCloseMs = 1000;

// The DSP transfer.
constexpr int afterStartMessageMs = 2000;
constexpr int pieceGapMs = 20;
constexpr int progressStepMs = 20;
constexpr int beforeEndMessageMs = 3000;
constexpr int dspAckStepMs = 1000;
constexpr int dspAckSleeps = 17; // gives up once more than 16000 ms have passed

// The link's threads.
constexpr int beforeReopenMs = 2000;
// A wait for a protocol deadline goes in steps this long, so an exit request is noticed at once.
constexpr int deadlineStepMs = 20;
constexpr int sendLimitMs = 2000; // real ms: a send the platform has not completed by then never will
// Real ms: a system input port is stopped only once nothing has come in for inputQuietMs (its
// driver may still be handling the last message), and never waits longer than inputQuietLimitMs.
constexpr int inputQuietMs = 100;
constexpr int inputQuietLimitMs = 500;
// Inside the progress window's cancel time-out, so the run's thread ends before it would be
// killed.
constexpr int workerEndLimitMs = 4000;
// How long a cancelled worker is given to end, as the progress window itself gives it.
constexpr int cancelTimeOutMs = 10000;

// A phase of the update run: a pause before it, a poll of the link while it runs, a pause after
// it (after QEX one that a cancel cuts short).
constexpr int beforePhaseMs = 1000;
constexpr int phasePollMs = 200;
constexpr int afterQexMs = 500;
constexpr int afterQexStepMs = 20;
constexpr int afterDspMs = 3000;
constexpr int afterPhaseMs = 1000;

// The updater panel.
constexpr int startUpRetryMs = 2000; // between the start-up boxes' tries
constexpr int betweenPowerOnBoxesMs = 2000;
constexpr int idleRunMs = 2000;        // a run with nothing to do
constexpr int afterSingleQexMs = 2000; // after a QEX update's result box, before the power-on box
constexpr int beforeContinueMs = 4000; // after the first firmware, before the continue box
constexpr int afterPowerOnMs = 500;
constexpr int afterFullUpdateMs = 2000; // after the full update's result box, before the power-on box
} // namespace zelvor::Protocol
