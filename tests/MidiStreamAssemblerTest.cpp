#include "sim/MidiStreamAssembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelvor
{
namespace
{
    using Bytes = std::vector<std::uint8_t>;

    // Feeds each chunk in turn and returns every message the assembler gave out, in order.
    std::vector<Bytes> assemble (MidiStreamAssembler& assembler, const std::vector<Bytes>& chunks)
    {
        std::vector<Bytes> messages;
        for (const auto& chunk : chunks)
            assembler.feed (chunk.data(),
                            static_cast<int> (chunk.size()),
                            [&messages] (const std::uint8_t* data, int size)
                            { messages.emplace_back (data, data + size); });
        return messages;
    }
} // namespace

TEST (MidiStreamAssemblerTest, SysexInPiecesComesOutWholeWithRealTimeBytesAside)
{
    MidiStreamAssembler assembler;
    // The pieces a USB-MIDI stream or a driver's reads may cut a message into, with a clock and
    // an active-sensing byte in the middle of the SysEx.
    const auto messages =
        assemble (assembler, {{0xF0, 0x06, 0x00}, {0x1B, 0xF8, 0x02}, {0x01}, {0xFE, 0x05, 0xF7, 0xF0}, {0x7F, 0xF7}});

    const std::vector<Bytes> expected = {
        {0xF8}, {0xFE}, {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x01, 0x05, 0xF7}, {0xF0, 0x7F, 0xF7}};
    EXPECT_EQ (messages, expected);
    EXPECT_FALSE (assembler.isInsideMessage());
}

TEST (MidiStreamAssemblerTest, StrayStatusByteEndsAnUnfinishedSysexAndStartsItsOwnMessage)
{
    MidiStreamAssembler assembler;
    // A note-on cuts the first SysEx, which is lost; a lone F7, data bytes outside any message
    // and the remains of the cut SysEx after the note are dropped.
    const auto messages = assemble (
        assembler,
        {{0xF0, 0x00, 0x00, 0x10, 0x01}, {0x90, 0x3C, 0x40, 0x22, 0x33, 0xF7}, {0xF7, 0x11}, {0xF0, 0x01, 0xF7}});

    const std::vector<Bytes> expected = {{0x90, 0x3C, 0x40}, {0xF0, 0x01, 0xF7}};
    EXPECT_EQ (messages, expected);
}

TEST (MidiStreamAssemblerTest, ChannelAndSystemCommonMessagesEndAtTheirLength)
{
    MidiStreamAssembler assembler;
    const auto messages = assemble (
        assembler,
        {{0xC5, 0x07, 0xB0}, {0x07, 0x64, 0xD1, 0x20, 0xF3, 0x02, 0xF2, 0x01, 0x02, 0xF6, 0xE0, 0x00}, {0x40}});

    const std::vector<Bytes> expected = {
        {0xC5, 0x07}, {0xB0, 0x07, 0x64}, {0xD1, 0x20}, {0xF3, 0x02}, {0xF2, 0x01, 0x02}, {0xF6}, {0xE0, 0x00, 0x40}};
    EXPECT_EQ (messages, expected);
}

TEST (MidiStreamAssemblerTest, RunawaySysexIsDroppedAndResetForgetsAnUnfinishedOne)
{
    MidiStreamAssembler assembler;
    Bytes runaway (MidiStreamAssembler::maxSysexSize + 10, 0x11);
    runaway.front() = 0xF0;
    auto messages = assemble (assembler, {runaway, {0xF7}, {0xF0, 0x02, 0xF7}});
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0], (Bytes{0xF0, 0x02, 0xF7}));

    // Just inside the limit still counts as a message.
    Bytes longest (MidiStreamAssembler::maxSysexSize - 1, 0x22);
    longest.front() = 0xF0;
    longest.push_back (0xF7);
    messages = assemble (assembler, {longest});
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0].size(), MidiStreamAssembler::maxSysexSize);

    messages = assemble (assembler, {{0xF0, 0x03, 0x04}});
    EXPECT_TRUE (messages.empty());
    EXPECT_TRUE (assembler.isInsideMessage());
    assembler.reset();
    messages = assemble (assembler, {{0x05, 0xF7}});
    EXPECT_TRUE (messages.empty());
}
} // namespace zelvor
