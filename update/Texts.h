#pragma once

// Every text the program shows a person: box messages, box titles, button texts, the file
// chooser's prompt, labels. The tests use these names too.
namespace zelvor::Texts
{
// What a screen reader calls the boxes that have no title, and the progress window's bar.
constexpr const char* programName = "Zelvor Updater";
constexpr const char* progressBarName = "Progress";

// Start-up boxes.
constexpr const char* notDetected = "Unable to detect Zelvor.\nPlease connect your Zelvor to the computer.";
constexpr const char* portsBusy = "Zelvor is being used by another program. Please close that program and continue.";
constexpr const char* powerOn = "Please power on your Zelvor";
// The protocol has no serial number: with two units attached nothing tells them apart, so the
// user is asked to leave only one.
constexpr const char* severalUnits = "More than one Zelvor is connected.\nPlease leave connected only the Zelvor you "
                                     "want to update, and try again.";
constexpr const char* corrupted = "Unable to update. Files are corrupted.";
constexpr const char* tryAgain = "Try again";
constexpr const char* okButton = "Ok";
// A failure box's second button: the run's details to the clipboard, for support.
constexpr const char* copyDetails = "Copy details";
constexpr const char* detailsCopied = "Copied";
constexpr const char* exit = "Exit";

// The full update.
constexpr const char* dspWrittenContinue =
    "DSP firmware has been updated successfully.\nPlease power cycle your Zelvor hardware and continue.";
constexpr const char* qexWrittenContinue =
    "QEX firmware has been updated successfully.\nPlease power cycle your Zelvor hardware and continue.";
constexpr const char* continueButton = "Continue";
constexpr const char* cancelButton = "Cancel";
constexpr const char* fullUpdateFailed =
    "Firmware update has failed. \nPlease power cycle your Zelvor hardware and try again.";
// The second line of the failure box when the run stopped for the unit's identity.
constexpr const char* anotherUnitJoined =
    "Another Zelvor was connected during the update, so the update stopped before writing to it.\nPlease leave "
    "connected only the Zelvor you are updating.";
constexpr const char* stillInLoader =
    "Your Zelvor still starts its loader, so its DSP firmware was not written: it was not power cycled, or its QEX "
    "firmware did not take.\nNothing is lost: power cycle it and click Update Zelvor again.";
constexpr const char* notTheUnitWritten =
    "The Zelvor that came back after the power cycle is waiting for its QEX firmware, so it is not the one that was "
    "just written, and nothing more was sent.\nPlease leave connected only the Zelvor you are updating and try again.";
// Why a run failed, told after a failure box's own lines, and by the headless driver after its
// phase ("QEX update failed: ..."): what happened, where, then what to do about it.
constexpr const char* becauseUnitGone = "the Zelvor disappeared from the computer";
constexpr const char* becauseNoAnswer = "the Zelvor stopped answering";
constexpr const char* becauseUnexpected = "the Zelvor gave an answer that does not fit";
constexpr const char* becauseLateAnswer = "the Zelvor's answers fell out of step";
constexpr const char* becauseDspError = "the Zelvor answered the DSP firmware with \"ERR\"";
constexpr const char* becauseDspChecksum =
    "the Zelvor answered the DSP firmware with \"CHECKSUM FAILED\": part of it was lost on the way";
constexpr const char* becauseLoaderNotBack = "the Zelvor did not come back in its loader in time";
constexpr const char* becausePortsHeld = "another program took the Zelvor's MIDI ports";
constexpr const char* becauseAnotherUnit = "another Zelvor was connected during the update";
constexpr const char* becauseMapUnusable = "the Zelvor's memory does not take this QEX firmware";
constexpr const char* becauseSendStalled = "the computer's MIDI driver stopped sending to the Zelvor";
// Where, after "stopped answering" and the like.
constexpr const char* atIdentity = "when asked who it is";
constexpr const char* atLoaderSwitch = "when asked to start its loader";
constexpr const char* atLoaderIdentity = "after restarting into its loader";
constexpr const char* atMap = "when asked for its memory map";
constexpr const char* atBeginWrite = "when asked to start writing";
constexpr const char* atBlocks = "after %d of %d blocks"; // written, of all
constexpr const char* atDspImage = "%d %% of the way into the DSP firmware";
constexpr const char* atDspEnd = "at the end of the DSP firmware";
// What to do.
constexpr const char* adviseConnection = "Check its cable and power, and connect it directly to the computer rather "
                                         "than through a hub, or with another cable.";
constexpr const char* adviseQuietLine =
    "Close any other program that uses MIDI, connect the Zelvor directly to the computer, and try again.";
constexpr const char* adviseCable = "Connect it directly to the computer, or with another cable.";
constexpr const char* adviseFreePorts = "Close that program, then try again.";
constexpr const char* adviseOneUnit = "Please leave connected only the Zelvor you are updating.";
constexpr const char* adviseReplug = "Unplug the Zelvor and plug it in again; if that happens again, restart the "
                                     "computer.";
constexpr const char* leftInLoader =
    "Your Zelvor now starts its loader: nothing is lost, and Update Zelvor brings it back.";

constexpr const char* updating = "Updating firmware. \nPlease do NOT power off your Zelvor.";
constexpr const char* canceled = "Canceled";

// A single firmware from a file.
constexpr const char* dspNeedsQex = "Your Zelvor is waiting for its QEX firmware, so its DSP firmware cannot be "
                                    "updated yet.\nPlease click Update Zelvor, or update the QEX firmware first.";
constexpr const char* dspNeedsPowerCycle =
    "Your Zelvor has not started the QEX firmware just written: it starts it when it is switched on.\nPlease power "
    "cycle your Zelvor, then update the DSP firmware.";
constexpr const char* chooseFile = "Please select the update file you want to load...";
constexpr const char* fileRefused = "Unable to use this update file.\n";
// "Firmware has been updated " + successfully | failed | canceled + resultEnd
constexpr const char* resultStart = "Firmware has been updated ";
constexpr const char* resultEnd = ". Please power cycle your Zelvor hardware.";

// The progress window and the panel's labels.
constexpr const char* progressTitle = "Firmware Updater";
constexpr const char* downloadingQex = "Downloading QEX Firmware ... ";
constexpr const char* downloadingDsp = "Downloading DSP Firmware ... ";
constexpr const char* dspLabelStart = "Downloading DSP firmware ";
// A single firmware's label while it runs, then with its word (done, failed, canceled).
constexpr const char* qexLabelRunning = "downloading QEX firmware";
constexpr const char* dspLabelRunning = "downloading DSP firmware";
constexpr const char* unitMissingStatus = "Unable to detect Zelvor!";
// Under the progress window's status, once the pace of the transfer is known; until then the
// line says it is not known yet.
constexpr const char* aboutMinutesLeft = "about %d minutes left";
constexpr const char* aboutAMinuteLeft = "about a minute left";
constexpr const char* lessThanAMinuteLeft = "less than a minute left";
constexpr const char* timeLeftUnknown = "working out the time left";
// Under the status for as long as the progress window is up.
constexpr const char* keepConnected = "Please do NOT power off or unplug your Zelvor.";
// Told to a screen reader at every tenth of the bar.
constexpr const char* percentDone = "%d percent";

// Quitting during an update.
constexpr const char* quitMidUpdate = "A firmware update is running. Quitting now cancels it.\nQuit anyway?";
constexpr const char* quitButton = "Quit";
constexpr const char* keepUpdatingButton = "Keep updating";

// What the desktop shows as the reason the computer stays awake.
constexpr const char* keepAwakeReason = "Updating the Zelvor's firmware";
} // namespace zelvor::Texts
