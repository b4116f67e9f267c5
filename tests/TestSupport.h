#pragma once

#include "link/FirmwareManager.h"
#include "link/Pacing.h"
#include "sim/VirtualMidiService.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zelvor::test
{
using Bytes = std::vector<std::uint8_t>;

inline void appendBigEndian32 (Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back ((std::uint8_t) (value >> shift));
}

// A QEX block file: header 00 1B 00 02, then address, length and data for each block.
struct QexImageBuilder
{
    Bytes bytes{0x00, 0x1B, 0x00, 0x02};

    QexImageBuilder& block (std::uint32_t address, const Bytes& data)
    {
        return block (address, (std::uint32_t) data.size(), data);
    }

    QexImageBuilder& block (std::uint32_t address, std::uint32_t declaredLength, const Bytes& data)
    {
        appendBigEndian32 (bytes, address);
        appendBigEndian32 (bytes, declaredLength);
        bytes.insert (bytes.end(), data.begin(), data.end());
        return *this;
    }
};

// Writes bytes to a file that is deleted with this object.
struct TempImageFile
{
    explicit TempImageFile (const Bytes& bytes, const juce::String& suffix = ".bin") : temp (suffix)
    {
        // JUCE hands an empty vector's null data to memcpy, which UBSan rightly refuses.
        if (bytes.empty())
            temp.getFile().create();
        else
            temp.getFile().replaceWithData (bytes.data(), bytes.size());
    }

    juce::File file() const
    {
        return temp.getFile();
    }

    juce::TemporaryFile temp;
};

// Installs an empty virtual MIDI service for the test's lifetime, so nothing touches the
// machine's real MIDI ports, and restores real time afterwards.
class WithVirtualMidi : public ::testing::Test
{
protected:
    WithVirtualMidi()
    {
        MidiPortService::install (&service);
    }

    ~WithVirtualMidi() override
    {
        MidiPortService::install (nullptr);
        Pacing::setSpeed (1.0);
    }

    VirtualMidiService service;
};
} // namespace zelvor::test
