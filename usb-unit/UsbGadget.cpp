#include "usb-unit/UsbGadget.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sound/asound.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvor
{
namespace
{
    constexpr int vendorId = 0x1209;

    juce::String systemError()
    {
        return std::strerror (errno);
    }

    bool isFolder (const juce::String& path)
    {
        struct stat info;
        return ::stat (path.toRawUTF8(), &info) == 0 && S_ISDIR (info.st_mode);
    }

    bool exists (const juce::String& path)
    {
        struct stat info;
        return ::lstat (path.toRawUTF8(), &info) == 0;
    }

    juce::String readFirstLine (const juce::String& path)
    {
        const int fd = ::open (path.toRawUTF8(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return {};
        char buffer[256] = {};
        const auto got = ::read (fd, buffer, sizeof (buffer) - 1);
        ::close (fd);
        if (got <= 0)
            return {};
        return juce::String (juce::CharPointer_UTF8 (buffer)).upToFirstOccurrenceOf ("\n", false, false).trim();
    }

    // ALSA card ids are at most 15 letters and digits.
    juce::String cardIdFor (const juce::String& gadgetName)
    {
        juce::String id;
        for (auto c : gadgetName)
            if (juce::CharacterFunctions::isLetterOrDigit (c) && c < 128 && id.length() < 15)
                id += juce::String::charToString (c);
        return id.isEmpty() ? juce::String ("zelvorgadget") : id;
    }
} // namespace

std::unique_ptr<UsbGadget> UsbGadget::create (const juce::String& configfsRoot,
                                              const juce::String& name,
                                              const juce::String& udc,
                                              juce::String& error)
{
    const auto gadgets = configfsRoot + "/usb_gadget";
    if (! isFolder (gadgets))
    {
        error = gadgets + " does not exist (configfs not mounted or libcomposite not loaded)";
        return nullptr;
    }
    if (! exists ("/sys/class/udc/" + udc))
    {
        error = "no USB device controller " + udc + " (is dummy_hcd loaded?)";
        return nullptr;
    }
    if (name.isEmpty() || name.containsAnyOf ("/ ") || name == "." || name == "..")
    {
        error = "bad gadget name '" + name + "'";
        return nullptr;
    }

    const auto root = gadgets + "/" + name;
    if (exists (root))
    {
        error = "the gadget name " + name + " is in use (" + root + ")";
        return nullptr;
    }

    std::unique_ptr<UsbGadget> gadget (new UsbGadget (root, udc, cardIdFor (name)));
    if (::mkdir (root.toRawUTF8(), 0755) != 0)
    {
        error = "cannot make " + root + ": " + systemError();
        return nullptr;
    }
    gadget->made.add (root);

    const bool made = gadget->writeAttribute ("idVendor", "0x" + juce::String::toHexString (vendorId), error) &&
                      gadget->writeAttribute ("bcdDevice", "0x0120", error) &&
                      gadget->writeAttribute ("bcdUSB", "0x0200", error) &&
                      gadget->makeFolder ("strings/0x409", error) && gadget->makeFolder ("configs/c.1", error) &&
                      gadget->makeFolder ("configs/c.1/strings/0x409", error) &&
                      gadget->writeAttribute ("configs/c.1/strings/0x409/configuration", "MIDI", error) &&
                      gadget->writeAttribute ("configs/c.1/MaxPower", "100", error) &&
                      gadget->makeFolder ("functions/midi.usb0", error) &&
                      gadget->writeAttribute ("functions/midi.usb0/id", gadget->cardId, error) &&
                      gadget->makeLink (root + "/functions/midi.usb0", "configs/c.1/midi.usb0", error);
    if (! made)
        return nullptr; // the destructor removes what was made

    return gadget;
}

UsbGadget::UsbGadget (juce::String r, juce::String u, juce::String id)
    : root (std::move (r)), udc (std::move (u)), cardId (std::move (id))
{
}

UsbGadget::~UsbGadget()
{
    unbind();
    // configfs removes the attributes with their folder; folders and links go in reverse order.
    for (int i = made.size(); --i >= 0;)
    {
        const auto& path = made[i];
        struct stat info;
        if (::lstat (path.toRawUTF8(), &info) != 0)
            continue;
        if (S_ISLNK (info.st_mode))
            ::unlink (path.toRawUTF8());
        else
            ::rmdir (path.toRawUTF8());
    }
}

bool UsbGadget::writeAttribute (const juce::String& relativePath, const juce::String& value, juce::String& error) const
{
    const auto path = root + "/" + relativePath;
    const int fd = ::open (path.toRawUTF8(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
    {
        error = "cannot open " + path + ": " + systemError();
        return false;
    }
    const auto text = value + "\n";
    const auto size = std::strlen (text.toRawUTF8());
    const bool written = ::write (fd, text.toRawUTF8(), size) == (ssize_t) size;
    if (! written)
        error = "cannot write " + path + ": " + systemError();
    ::close (fd);
    return written;
}

bool UsbGadget::makeFolder (const juce::String& relativePath, juce::String& error)
{
    const auto path = root + "/" + relativePath;
    // configfs makes some folders itself (strings of a configuration, for one).
    if (! isFolder (path))
    {
        if (::mkdir (path.toRawUTF8(), 0755) != 0)
        {
            error = "cannot make " + path + ": " + systemError();
            return false;
        }
    }
    made.add (path);
    return true;
}

bool UsbGadget::makeLink (const juce::String& target, const juce::String& relativePath, juce::String& error)
{
    const auto path = root + "/" + relativePath;
    if (::symlink (target.toRawUTF8(), path.toRawUTF8()) != 0)
    {
        error = "cannot link " + path + ": " + systemError();
        return false;
    }
    made.add (path);
    return true;
}

bool UsbGadget::bind (const Identity& identity, juce::String& error)
{
    if (bound)
        unbind();

    if (! (writeAttribute (
               "idProduct", "0x" + juce::String::toHexString (identity.productId).paddedLeft ('0', 4), error) &&
           writeAttribute ("strings/0x409/manufacturer", identity.manufacturer, error) &&
           writeAttribute ("strings/0x409/product", identity.product, error) &&
           writeAttribute ("strings/0x409/serialnumber", identity.serialNumber, error)))
        return false;

    if (! writeAttribute ("UDC", udc, error))
        return false;
    bound = true;
    return true;
}

void UsbGadget::unbind()
{
    if (! bound)
        return;
    juce::String ignored;
    writeAttribute ("UDC", "", ignored);
    bound = false;
}

juce::String UsbGadget::waitForRawMidi (int timeoutMs) const
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    for (;;)
    {
        // /proc/asound/<id> links to the card's folder, card<N>.
        char target[64] = {};
        const auto length = ::readlink (("/proc/asound/" + cardId).toRawUTF8(), target, sizeof (target) - 1);
        if (length > 0)
        {
            const juce::String card (target, (size_t) length);
            const auto number = card.fromFirstOccurrenceOf ("card", false, false);
            const auto device = "/dev/snd/midiC" + number + "D0";
            if (number.containsOnly ("0123456789") && number.isNotEmpty() &&
                readFirstLine ("/proc/asound/" + card + "/midi0") == "f_midi" && exists (device))
                return device;
        }
        if (juce::Time::getMillisecondCounterHiRes() >= end)
            return {};
        juce::Thread::sleep (10);
    }
}

RawMidiPort::~RawMidiPort()
{
    close();
}

bool RawMidiPort::open (const juce::String& devicePath, Reader reader, juce::String& error)
{
    close();
    fd = ::open (devicePath.toRawUTF8(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = "cannot open " + devicePath + ": " + systemError();
        return false;
    }
    if (::pipe2 (wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        error = "cannot make a pipe: " + systemError();
        ::close (fd);
        fd = -1;
        return false;
    }
    readerCallback = std::move (reader);
    thread = std::thread ([this] { readLoop(); });
    return true;
}

void RawMidiPort::close()
{
    if (fd < 0)
        return;
    const char wake = 1;
    [[maybe_unused]] const auto woken = ::write (wakePipe[1], &wake, 1);
    if (thread.joinable())
        thread.join();

    const std::lock_guard<std::mutex> guard (writeLock);
    ::close (fd);
    ::close (wakePipe[0]);
    ::close (wakePipe[1]);
    fd = -1;
    wakePipe[0] = wakePipe[1] = -1;
}

void RawMidiPort::readLoop()
{
    std::uint8_t buffer[1024];
    for (;;)
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll (fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0)
            return; // the device went away

        const auto got = ::read (fd, buffer, sizeof (buffer));
        if (got > 0)
            readerCallback (buffer, (int) got);
        else if (got < 0 && errno != EAGAIN && errno != EINTR)
            return;
    }
}

bool RawMidiPort::write (const std::uint8_t* data, int size, int timeoutMs)
{
    const std::lock_guard<std::mutex> guard (writeLock);
    if (fd < 0)
        return false;

    const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    int done = 0;
    while (done < size)
    {
        const auto put = ::write (fd, data + done, (size_t) (size - done));
        if (put > 0)
        {
            done += (int) put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;

        const auto left = end - juce::Time::getMillisecondCounterHiRes();
        if (left <= 0)
            return false;
        pollfd out{fd, POLLOUT, 0};
        ::poll (&out, 1, (int) std::min (left, 100.0));
    }
    return true;
}
} // namespace zelvor

namespace zelvor
{
void RawMidiPort::drain()
{
    const std::lock_guard<std::mutex> guard (writeLock);
    if (fd < 0)
        return;
    int stream = SNDRV_RAWMIDI_STREAM_OUTPUT;
    ::ioctl (fd, SNDRV_RAWMIDI_IOCTL_DRAIN, &stream);
}
} // namespace zelvor
