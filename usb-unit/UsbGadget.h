#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace zelvor
{
// A USB device made by the kernel's gadget framework through configfs: one configuration with
// one "midi" function (one port in, one out), bound to a UDC such as dummy_hcd's. Binding makes
// it appear on the host side as a USB-MIDI device; unbinding is the cable pulled out. The
// gadget side of the function is an ALSA rawmidi device ("f_midi"), found by the card id the
// gadget gives it.
class UsbGadget
{
public:
    struct Identity
    {
        juce::String manufacturer;
        juce::String product;
        juce::String serialNumber;
        int productId = 0;
    };

    // Makes the gadget's folders under <configfsRoot>/usb_gadget/<name>; null with a one-line
    // error when configfs or the UDC is missing or the name is in use.
    static std::unique_ptr<UsbGadget>
    create (const juce::String& configfsRoot, const juce::String& name, const juce::String& udc, juce::String& error);

    // Unbinds and removes every folder it made.
    ~UsbGadget();

    // Sets the USB strings (only possible while unbound) and binds; false with an error.
    bool bind (const Identity& identity, juce::String& error);
    void unbind();
    bool isBound() const
    {
        return bound;
    }

    // The gadget side's rawmidi device once bound (/dev/snd/midiC<N>D0), waiting up to
    // timeoutMs for the card to appear; empty when it does not.
    juce::String waitForRawMidi (int timeoutMs) const;

private:
    UsbGadget (juce::String root, juce::String udcName, juce::String cardId);

    bool writeAttribute (const juce::String& relativePath, const juce::String& value, juce::String& error) const;
    bool makeFolder (const juce::String& relativePath, juce::String& error);
    bool makeLink (const juce::String& target, const juce::String& relativePath, juce::String& error);

    const juce::String root; // the gadget's own folder
    const juce::String udc;
    const juce::String cardId;
    juce::StringArray made; // folders and links, in the order made
    bool bound = false;

    JUCE_DECLARE_NON_COPYABLE (UsbGadget)
};

// A rawmidi device opened for both directions: what it reads goes to the callback on a thread
// of its own; writes block until the bytes are taken or the time limit passes.
class RawMidiPort
{
public:
    using Reader = std::function<void (const std::uint8_t* data, int size)>;

    ~RawMidiPort();

    bool open (const juce::String& devicePath, Reader reader, juce::String& error);
    void close();
    bool isOpen() const
    {
        return fd >= 0;
    }

    // False when the device is gone or did not take the bytes within timeoutMs.
    bool write (const std::uint8_t* data, int size, int timeoutMs = 2000);

    // Waits until what was written has left for the device.
    void drain();

private:
    void readLoop();

    int fd = -1;
    int wakePipe[2] = {-1, -1};
    Reader readerCallback;
    std::thread thread;
    std::mutex writeLock; // replies may come from more than one thread
};
} // namespace zelvor
