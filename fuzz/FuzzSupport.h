#pragma once

#include "link/FirmwareManager.h"
#include "sim/VirtualMidiService.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The entry points libFuzzer calls.
extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

namespace zelvor::fuzz
{
using Bytes = std::vector<std::uint8_t>;

// A broken invariant is a crash to libFuzzer, which then keeps the input that caused it.
inline void require (bool condition, const char* what)
{
    if (! condition)
    {
        std::fprintf (stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

inline void appendBigEndian32 (Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back ((std::uint8_t) (value >> shift));
}

// One link object for the whole run (building one per input would dominate the time), over an
// empty virtual MIDI service so that nothing reaches the machine's ports. Both are left alive
// at exit: the service must outlive the link, and neither holds anything worth releasing.
inline FirmwareManager& fuzzedLink()
{
    static FirmwareManager* link = []
    {
        MidiPortService::install (new VirtualMidiService());
        return new FirmwareManager();
    }();
    return *link;
}

// With ZELVOR_FUZZ_WRITE_SEEDS=<dir> set, a fuzzer writes its seed inputs there and exits: the
// seeds come from the program's own images and messages, so none is kept in the repository.
template <typename MakeSeeds>
void writeSeedsIfAsked (MakeSeeds makeSeeds)
{
    const char* dir = std::getenv ("ZELVOR_FUZZ_WRITE_SEEDS");
    if (dir == nullptr)
        return;

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (dir);
    require (folder.createDirectory().wasOk(), "seed folder can be made");
    int index = 0;
    for (const auto& seed : makeSeeds())
        require (folder.getChildFile ("seed-" + juce::String (index++)).replaceWithData (seed.data(), seed.size()),
                 "seed written");
    std::exit (0);
}
} // namespace zelvor::fuzz
