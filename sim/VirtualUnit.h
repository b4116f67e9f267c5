#pragma once

#include "link/FirmwareManager.h"
#include "sim/VirtualMidiService.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zelvor
{
// A stand-in for the unit: it presents its two ports on a VirtualMidiService and answers the
// QEX and DSP exchanges as the hardware does, keeping its flash and what it received so that
// tests can compare them with the image sent. Named fault scenarios make it misbehave.
//
// Like the real loader it is strict about order, so a link that skips a step fails: running
// its normal firmware it leaves the map request, the begin-write request and data blocks
// unanswered; in its loader it refuses (acknowledgement with status 01) a data block that comes
// before a begin-write or reaches outside its map, and writes nothing of it. Both count in
// refusedReceived().
//
// Like the hardware it keeps running its loader when its main firmware is not whole, and it can
// judge that only by what it received (the begin-write carries no length or checksum): the first
// data of a write inside a region erases that region, and the write finishes once no data has
// come for writeSettleMs while the unit stayed connected and powered (after a whole image the
// link waits longer than that before it closes the ports). A block the unit lost or refused, a
// disconnection or a power cut leaves the write unfinished, and regions that a write never
// finished leave the firmware invalid; regions no block touched keep what they held. At every power-on (a power cycle,
// or power back after a cut) a unit whose firmware is not valid starts its loader, under the loader's port names. Its
// loader knows only the flash commands: the DSP family goes unanswered and unrecorded, unless the unit is made with a
// loader that also takes it (loaderTakesDsp).
class VirtualUnit
{
public:
    struct Options
    {
        // As the system lists a USB-MIDI device's port: its USB product name and the port's.
        juce::String inputPortName{"Sorvanta Zelvor USB MIDI MIDI 1"};  // the port the host reads
        juce::String outputPortName{"Sorvanta Zelvor USB MIDI MIDI 1"}; // the port the host writes
        juce::String loaderPortName{"Sorvanta Zelvor Loader MIDI 1"};   // both ports in its loader
        double replyLatencyMs = 2.0;                                    // protocol ms before each reply
        double restartMs = 1500.0;                                      // loader restart (link waits 5500)
        bool startInLoader = false;                                     // its main firmware not valid from the start
        bool pluggedIn = true;                                          // plug the ports in at construction
        bool loaderTakesDsp = false;
        // late-data-ack: protocol ms from the first try's answer to the retry's. Together by
        // default: on a loaded machine running compressed time, an answer timed apart can land
        // after the link's quiet moment, where no link could tell it from the next chunk's.
        double lateRetryAckMs = 0.0;
    };

    static constexpr std::uint32_t flashSize = 0x100000;
    static constexpr double writeSettleMs = 3000.0; // protocol ms; the link settles for settleBeforeCloseMs

    VirtualUnit (VirtualMidiService& service, Options options);
    explicit VirtualUnit (VirtualMidiService& service);
    ~VirtualUnit(); // unplugs

    void plugIn();
    void unplug();
    // Power off and on: the ports go away, and the unit comes back after restartMs, running its
    // main firmware when that is valid and its loader otherwise; the flash is kept, the record
    // of received traffic is not cleared.
    void powerCycle();

    bool isPluggedIn() const;
    bool isInLoader() const;
    bool mainFirmwareValid() const;

    // Fault scenarios by name. A name may take a count after a colon ("unplug-after:100").
    // Returns false for an unknown name.
    bool setFault (const juce::String& nameAndCount);

    // What the unit holds and has seen.
    std::vector<std::uint8_t> flash() const;           // 1 MiB, 0xFF where never written
    std::vector<std::uint8_t> dspReceived() const;     // image bytes between DSP start and end
    int dataBlocksReceived() const;                    // data-block messages that arrived
    int badDataBlocksReceived() const;                 // of those, rejected (checksum or length) and not acknowledged
    int refusedReceived() const;                       // loader commands out of place, unanswered or refused
    int messagesReceived() const;                      // complete messages from the host
    int countReceived (std::uint8_t qexCommand) const; // QEX-family messages by command byte
    bool beginWriteReceived() const;
    bool dspEndAcknowledged() const; // answered "ACK" to a DSP end message

    struct Impl;

private:
    std::shared_ptr<Impl> impl;
};
} // namespace zelvor
