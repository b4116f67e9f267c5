#include "link/SysexCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

using namespace zelvor;

namespace
{
std::vector<std::uint8_t> bytesOf (const Sysex::FixedMessage& m)
{
    return {m.bytes, m.bytes + m.size};
}

std::vector<std::uint8_t> dataBlock (std::uint32_t address, const std::vector<std::uint8_t>& data)
{
    std::uint8_t work[Sysex::dataBlockWorkAreaSize];
    const int size = Sysex::buildDataBlockMessage (data.data(), address, (int) data.size(), work);
    return {work, work + size};
}
} // namespace

TEST (Codec, ChecksumOfEveryFixedQexMessageIsItsOwn)
{
    for (const auto* m : {&Sysex::identityRequest,
                          &Sysex::identityReplyRunning,
                          &Sysex::identityReplyLoader,
                          &Sysex::enterLoaderRequest,
                          &Sysex::enterLoaderAck,
                          &Sysex::mapRequest,
                          &Sysex::mapReply,
                          &Sysex::mapReplyVariant,
                          &Sysex::beginWriteRequest,
                          &Sysex::beginWriteAck,
                          &Sysex::dataBlockAck})
    {
        EXPECT_EQ (m->bytes[0], 0xF0);
        EXPECT_EQ (m->bytes[m->size - 1], 0xF7);
        EXPECT_EQ (Sysex::xorChecksum (m->bytes, m->size), m->bytes[m->size - 2])
            << "message of " << m->size << " bytes";
    }

    EXPECT_EQ (Sysex::xorChecksum (Sysex::enterLoaderRequest.bytes, 8), 0x6E);
    EXPECT_EQ (Sysex::xorChecksum (Sysex::identityRequest.bytes, 12), 0x63);

    // The DSP family's check byte makes the header bytes 1..9 sum to 7F modulo 128.
    for (const auto* m : {&Sysex::dspStartMessage, &Sysex::dspEndMessage})
        EXPECT_EQ (std::accumulate (m->bytes + 1, m->bytes + 10, 0) % 128, 0x7F);
}

TEST (Codec, FixedMessagesAreTheUnitsBytes)
{
    // The unit matches these byte for byte; a change that kept the checksum right would still
    // break it.
    using B = std::vector<std::uint8_t>;
    EXPECT_EQ (bytesOf (Sysex::identityRequest),
               (B{0xF0, 0x06, 0x7F, 0x1B, 0x7F, 0x01, 0x00, 0x7F, 0x7F, 0x7F, 0x63, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::identityReplyRunning),
               (B{0xF0, 0x06, 0x7F, 0x7F, 0x7F, 0x02, 0x00, 0x00, 0x1B, 0x02, 0x00, 0x62, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::identityReplyLoader),
               (B{0xF0, 0x06, 0x7F, 0x7F, 0x7F, 0x02, 0x00, 0x00, 0x1B, 0x02, 0x01, 0x63, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::enterLoaderRequest), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x71, 0x6E, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::enterLoaderAck), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x71, 0x10, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::mapRequest), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x78, 0x67, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::beginWriteRequest), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7B, 0x00, 0x00, 0x64, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::beginWriteAck), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x7B, 0x1A, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::dataBlockAck), (B{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x7A, 0x1B, 0xF7}));
    EXPECT_EQ (bytesOf (Sysex::dspStartMessage),
               (B{0xF0,
                  0x00,
                  0x00,
                  0x10,
                  0x00,
                  0x3F,
                  0x00,
                  0x42,
                  0x00,
                  0x6E,
                  0x30,
                  0x00,
                  0x00,
                  0x00,
                  0x00,
                  0x7F,
                  0x7F,
                  0xF7}));
    EXPECT_EQ (bytesOf (Sysex::dspEndMessage),
               (B{0xF0,
                  0x00,
                  0x00,
                  0x10,
                  0x00,
                  0x3F,
                  0x00,
                  0x43,
                  0x00,
                  0x6D,
                  0x30,
                  0x00,
                  0x00,
                  0x00,
                  0x00,
                  0x7F,
                  0x7F,
                  0xF7}));
}

TEST (Codec, PackSevenMovesTopBitsIntoTheFlagByte)
{
    const std::uint8_t source[] = {0x80, 0x01, 0xFF, 0x7F, 0x00, 0x81, 0xC0};
    std::uint8_t out[8];
    ASSERT_EQ (Sysex::packSeven (source, 7, out), 8);
    EXPECT_EQ (out[0], 0x40 | 0x10 | 0x02 | 0x01);
    const std::uint8_t expected[] = {0x00, 0x01, 0x7F, 0x7F, 0x00, 0x01, 0x40};
    EXPECT_TRUE (std::equal (expected, expected + 7, out + 1));

    const std::uint8_t shortGroup[] = {0xFF, 0xFF, 0xFF};
    ASSERT_EQ (Sysex::packSeven (shortGroup, 3, out), 4);
    EXPECT_EQ (out[0], 0x70); // a short group leaves the low flag bits clear
}

TEST (Codec, DataBlockWorkedExamples)
{
    EXPECT_EQ (
        dataBlock (0x00010000, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11}),
        (std::vector<std::uint8_t>{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09,
                                   0x12, 0x0F, 0x34, 0x56, 0x78, 0x1A, 0x3C, 0x5E, 0x70, 0x00, 0x11, 0x73, 0xF7}));

    EXPECT_EQ (dataBlock (0x00000000, {0xFF}),
               (std::vector<std::uint8_t>{
                   0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x7F, 0x1A, 0xF7}));
}

TEST (Codec, DataBlockLengthsAndFlags)
{
    for (auto [dataLength, total] : {std::pair{256, 308}, {255, 307}, {8, 24}, {7, 23}, {1, 16}})
        EXPECT_EQ ((int) dataBlock (0x10000, std::vector<std::uint8_t> ((size_t) dataLength, 0x55)).size(), total)
            << dataLength;

    const auto full = dataBlock (0x00010000, std::vector<std::uint8_t> (256, 0xFF));
    ASSERT_EQ (full.size(), 308u);
    EXPECT_EQ (full[6], 0x01); // four address bytes and two length bytes below 0x80, then the first FF
    for (int group = 1; group <= 36; ++group)
        EXPECT_EQ (full[(size_t) (6 + 8 * group)], 0x7F) << group;
    EXPECT_EQ (full[6 + 8 * 37], 0x70);
    for (size_t i = 1; i + 1 < full.size(); ++i)
        EXPECT_LT (full[i], 0x80) << i;
}

TEST (Codec, MapReplyIsThePackingOfTheUnitsMap)
{
    // Build the map from its fields and pack it: the fixed reply must be exactly that.
    const std::uint32_t starts[] = {0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000};
    std::vector<std::uint8_t> map{0x00, 0x01, 0x00, 0x06};
    for (auto start : starts)
        for (auto value : {start, 0x10000u})
            for (int shift = 24; shift >= 0; shift -= 8)
                map.push_back ((std::uint8_t) (value >> shift));
    ASSERT_EQ (map.size(), (size_t) Sysex::mapSize);

    std::vector<std::uint8_t> reply{0xF0, 0x06, 0x00, 0x1B, 0x02, 0x79};
    for (size_t i = 0; i < map.size(); i += 7)
    {
        std::uint8_t packed[8];
        const int n = Sysex::packSeven (map.data() + i, (int) std::min<size_t> (7, map.size() - i), packed);
        reply.insert (reply.end(), packed, packed + n);
    }
    reply.push_back (0);
    reply.push_back (0xF7);
    reply[reply.size() - 2] = Sysex::xorChecksum (reply.data(), (int) reply.size());

    EXPECT_EQ (reply, bytesOf (Sysex::mapReply));
    EXPECT_EQ (reply[66], 0x69);

    const auto unpacked = Sysex::unpackSeven (Sysex::mapReply.bytes + Sysex::mapPackedOffset);
    EXPECT_TRUE (std::equal (map.begin(), map.end(), unpacked.begin()));

    const auto flashMap = Sysex::readFlashMap (unpacked);
    EXPECT_EQ (flashMap.status, 0x00);
    ASSERT_EQ (flashMap.regions.size(), 6u);
    for (size_t k = 0; k < 6; ++k)
    {
        EXPECT_EQ (flashMap.regions[k].start, starts[k]);
        EXPECT_EQ (flashMap.regions[k].length, 0x10000u);
    }

    // The other form a unit may send: other bytes, the same checksum, and the same map taken
    // from it, although its bytes unpack to something else.
    const std::vector<std::uint8_t> other{
        0xF0, 0x06, 0x00, 0x1B, 0x02, 0x79, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06,
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x69, 0xF7};
    EXPECT_EQ (bytesOf (Sysex::mapReplyVariant), other);
    EXPECT_FALSE (
        std::equal (map.begin(), map.end(), Sysex::unpackSeven (other.data() + Sysex::mapPackedOffset).begin()));
    for (const auto* form : {&Sysex::mapReply, &Sysex::mapReplyVariant})
    {
        EXPECT_TRUE (Sysex::isMapReply (form->bytes, form->size));
        const auto taken = Sysex::flashMapOfReply (form->bytes);
        EXPECT_TRUE (std::equal (map.begin(), map.end(), taken.begin()));
    }
}

TEST (Codec, UnpackSevenInvertsPackSevenWithTopBits)
{
    std::vector<std::uint8_t> map (Sysex::mapSize);
    std::iota (map.begin(), map.end(), std::uint8_t{0x70}); // crosses 0x80
    std::vector<std::uint8_t> packed;
    for (size_t i = 0; i < map.size(); i += 7)
    {
        std::uint8_t group[8];
        const int n = Sysex::packSeven (map.data() + i, (int) std::min<size_t> (7, map.size() - i), group);
        packed.insert (packed.end(), group, group + n);
    }
    ASSERT_EQ (packed.size(), (size_t) Sysex::mapPackedSize);
    const auto unpacked = Sysex::unpackSeven (packed.data());
    EXPECT_TRUE (std::equal (map.begin(), map.end(), unpacked.begin()));
}

TEST (Codec, ReadFlashMapTakesEveryByteOfEachFieldAndNeverReadsPastTheMap)
{
    // The unit's own map has zeros in most bytes; these values put a different byte in each place.
    std::array<std::uint8_t, Sysex::mapSize> map{};
    map[0] = 0x05;
    map[3] = 2;
    const std::uint8_t fields[] = {
        0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04};
    std::copy (std::begin (fields), std::end (fields), map.begin() + 4);
    const auto read = Sysex::readFlashMap (map);
    EXPECT_EQ (read.status, 0x05);
    ASSERT_EQ (read.regions.size(), 2u);
    EXPECT_EQ (read.regions[0].start, 0x12345678u);
    EXPECT_EQ (read.regions[0].length, 0x9ABCDEF0u);
    EXPECT_EQ (read.regions[1].start, 0x0A0B0C0Du);
    EXPECT_EQ (read.regions[1].length, 0x01020304u);

    map[3] = 0x7F; // claims far more regions than 52 bytes hold
    EXPECT_EQ (Sysex::readFlashMap (map).regions.size(), 6u);
}

TEST (Codec, MatchesMessageComparesLengthAndBytesAfterF0)
{
    auto reply = bytesOf (Sysex::identityReplyLoader);
    EXPECT_TRUE (Sysex::matchesMessage (reply.data(), (int) reply.size(), Sysex::identityReplyLoader));
    EXPECT_FALSE (Sysex::matchesMessage (reply.data(), (int) reply.size(), Sysex::identityReplyRunning));

    reply[0] = 0x00; // offset 0 is not compared
    EXPECT_TRUE (Sysex::matchesMessage (reply.data(), (int) reply.size(), Sysex::identityReplyLoader));

    auto otherMode = bytesOf (Sysex::identityReplyRunning);
    otherMode[10] = 0x02;
    otherMode[11] = Sysex::xorChecksum (otherMode.data(), (int) otherMode.size());
    EXPECT_FALSE (Sysex::matchesMessage (otherMode.data(), (int) otherMode.size(), Sysex::identityReplyRunning));
    EXPECT_FALSE (Sysex::matchesMessage (otherMode.data(), (int) otherMode.size(), Sysex::identityReplyLoader));

    EXPECT_FALSE (Sysex::matchesMessage (reply.data(), 12, Sysex::identityReplyLoader));
}

TEST (Codec, UnitReplyHeaderLengthBounds)
{
    const std::uint8_t ack9[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x01, 0xF7};
    EXPECT_TRUE (Sysex::isUnitReplyHeader (ack9, 9));

    std::vector<std::uint8_t> reply{0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x01};
    for (int total : {8, 10, 34, 35})
    {
        auto m = reply;
        m.resize ((size_t) total - 1, 0x00);
        m.push_back (0xF7);
        EXPECT_EQ (Sysex::isUnitReplyHeader (m.data(), total), total >= 9 && total <= 34) << total;
    }

    const std::uint8_t sentHeader[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x01, 0x00, 0xF7};
    EXPECT_FALSE (Sysex::isUnitReplyHeader (sentHeader, 10));
    const std::uint8_t unterminated[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x01, 0x00, 0x00};
    EXPECT_FALSE (Sysex::isUnitReplyHeader (unterminated, 10));
}
