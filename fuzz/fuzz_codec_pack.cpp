// Checks the 7-bit codec: data-block messages built from arbitrary address, length and data are
// well framed and unpack to what went in; unpackSeven and packSeven undo each other; and a map
// read from any 52 bytes holds no more regions than they can carry.

#include "fuzz/FuzzSupport.h"
#include "link/SysexCodec.h"

#include <algorithm>

using namespace zelvor;
using namespace zelvor::fuzz;

namespace
{
// Input layout: 4 address bytes, the length less one, then the data (missing bytes read as 0).
std::vector<Bytes> makeSeeds()
{
    Bytes example{0x00, 0x01, 0x00, 0x00, 8, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11};
    Bytes erased{0x00, 0x01, 0x00, 0x00, 0xFF};
    erased.resize (5 + 256, 0xFF);
    const auto& reply = Sysex::mapReply;
    return {example,
            erased,
            Bytes (reply.bytes + Sysex::mapPackedOffset, reply.bytes + reply.size),
            Bytes{0, 0, 0, 0, 0, 0xFF}};
}

// An unpacker of its own, so that the codec is not checked against itself.
Bytes unpack (const std::uint8_t* packed, int count)
{
    Bytes out;
    for (int group = 0; group < count; group += 8)
    {
        const int n = std::min (7, count - group - 1);
        require (n >= 1, "no group without bytes");
        require ((packed[group] & ((1u << (7 - n)) - 1)) == 0, "unused flag bits are 0");
        for (int k = 0; k < n; ++k)
            out.push_back ((std::uint8_t) (packed[group + 1 + k] | (((packed[group] >> (6 - k)) & 1) << 7)));
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsIfAsked (makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    auto byteAt = [data, size] (size_t i) { return i < size ? data[i] : std::uint8_t{0}; };

    const std::uint32_t address = (std::uint32_t{byteAt (0)} << 24) | (std::uint32_t{byteAt (1)} << 16) |
                                  (std::uint32_t{byteAt (2)} << 8) | byteAt (3);
    const int length = byteAt (4) + 1;
    Bytes source;
    for (int i = 0; i < length; ++i)
        source.push_back (byteAt (5 + (size_t) i));

    // Exactly the work area's size on the heap, so a write past it is an ASan report.
    auto work = std::make_unique<std::uint8_t[]> (Sysex::dataBlockWorkAreaSize);
    const auto* area = work.get();
    const int total = Sysex::buildDataBlockMessage (source.data(), address, length, work.get());
    const int packedSize = 6 + length + (6 + length + 6) / 7;
    require (total == 6 + packedSize + 2, "length is head, packed bytes, checksum and F7");

    const std::uint8_t head[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7A};
    require (std::equal (head, head + 6, area) && area[total - 1] == 0xF7, "framed as a data block");
    require (std::all_of (area + 1, area + total - 1, [] (std::uint8_t b) { return b < 0x80; }),
             "every byte inside the frame is below 80");
    std::uint8_t sum = 0;
    for (int i = 1; i <= total - 3; ++i)
        sum ^= area[i];
    require (area[total - 2] == sum && sum == Sysex::xorChecksum (area, total),
             "the checksum is the XOR of offsets 1..N-3");
    require (std::all_of (area + total, area + Sysex::dataBlockWorkAreaSize, [] (std::uint8_t b) { return b == 0xFF; }),
             "the rest of the work area keeps its FF fill");

    Bytes expected;
    appendBigEndian32 (expected, address);
    expected.push_back ((std::uint8_t) (length >> 8));
    expected.push_back ((std::uint8_t) length);
    expected.insert (expected.end(), source.begin(), source.end());
    require (unpack (area + 6, packedSize) == expected, "the payload unpacks to address, length and data");

    // The map field, with its top bits cleared as inside any SysEx message: unpacking, then
    // packing again, gives back the 60 bytes less the flag bits of the last group's missing bytes.
    std::uint8_t packed[Sysex::mapPackedSize] = {};
    for (size_t i = 0; i < std::min (size, sizeof (packed)); ++i)
        packed[i] = data[i] & 0x7F;
    const auto map = Sysex::unpackSeven (packed);
    std::uint8_t repacked[Sysex::mapPackedSize];
    int written = 0;
    for (int offset = 0; offset < Sysex::mapSize; offset += 7)
        written += Sysex::packSeven (map.data() + offset, std::min (7, Sysex::mapSize - offset), repacked + written);
    require (written == Sysex::mapPackedSize, "52 bytes pack to 60");
    for (int i = 0; i < Sysex::mapPackedSize; ++i)
        require (repacked[i] == (i == 56 ? (packed[i] & 0x70) : packed[i]),
                 "unpackSeven and packSeven undo each other");

    const auto flashMap = Sysex::readFlashMap (map);
    require (flashMap.status == map[0] && flashMap.regions.size() == std::min<size_t> (map[3], 6),
             "as many regions as asked, at most 6");
    for (size_t k = 0; k < flashMap.regions.size(); ++k)
    {
        const auto* r = map.data() + 4 + 8 * k;
        require (flashMap.regions[k].start ==
                     ((std::uint32_t{r[0]} << 24) | (std::uint32_t{r[1]} << 16) | (std::uint32_t{r[2]} << 8) | r[3]),
                 "region start");
        require (flashMap.regions[k].length ==
                     ((std::uint32_t{r[4]} << 24) | (std::uint32_t{r[5]} << 16) | (std::uint32_t{r[6]} << 8) | r[7]),
                 "region length");
    }
    return 0;
}
