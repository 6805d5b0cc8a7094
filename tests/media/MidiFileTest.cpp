#include "media/MidiFile.h"
#include "tests/media/MediaFixtures.h"

#include <gtest/gtest.h>

namespace {

const MidiEvent noteOn{0, {0x90, 60, 100}};

std::int64_t LengthMs(const std::vector<std::uint8_t> &bytes)
{
    MidiFile song;
    EXPECT_EQ(song.Parse(bytes), MidiFile::Status::Ok);
    return song.LengthMicroseconds() / 1000;
}

// Two quarter notes at 120 bpm, then the tempo doubles for two more: 1000 + 500 ms.
std::vector<std::uint8_t> TempoChangeSong()
{
    return MidiFileBytes(0, 480,
                         {MidiTrack({noteOn,
                                     {960, {0x80, 60, 0}},
                                     Tempo(0, 250000),
                                     {0, {0x90, 62, 100}},
                                     {960, {0x80, 62, 0}},
                                     EndOfTrack(0)})});
}

TEST(MidiFileTest, LengthFollowsTheTempoMapToTheLastEvent)
{
    EXPECT_EQ(LengthMs(TempoChangeSong()), 1500);

    // Format 1: the tempo track and a note track that ends later; running status in the notes.
    const auto tempoTrack = MidiTrack({Tempo(0, 600000), Tempo(480, 300000), EndOfTrack(0)});
    const auto noteTrack = MidiTrack({noteOn, {480, {60, 0}}, {480, {62, 100}}, {480, {62, 0}}, EndOfTrack(0)});
    // 480 ticks at 600 ms per quarter, then 960 ticks at 300 ms: 600 + 600.
    EXPECT_EQ(LengthMs(MidiFileBytes(1, 480, {tempoTrack, noteTrack})), 1200);

    // A trailing end-of-track delta counts: the song lasts until its last event.
    EXPECT_EQ(LengthMs(MidiFileBytes(0, 96, {MidiTrack({noteOn, {96, {0x80, 60, 0}}, EndOfTrack(96)})})), 1000);

    // SMPTE division, 25 frames of 40 ticks: one tick is a millisecond, tempo events do not apply.
    const std::uint16_t smpte = std::uint16_t((0x100 - 25) << 8 | 40);
    EXPECT_EQ(LengthMs(MidiFileBytes(0, smpte, {MidiTrack({Tempo(0, 250000), noteOn, {1234, {0x80, 60, 0}}})})), 1234);
}

TEST(MidiFileTest, TickAtInvertsTheTempoMap)
{
    MidiFile song;
    ASSERT_EQ(song.Parse(TempoChangeSong()), MidiFile::Status::Ok);
    EXPECT_EQ(song.TickAt(0), 0);
    EXPECT_EQ(song.TickAt(500000), 480);
    EXPECT_EQ(song.TickAt(1000000), 960);
    EXPECT_EQ(song.TickAt(1250000), 1440);
    EXPECT_EQ(song.MicrosecondsAt(1440), 1250000);
}

TEST(MidiFileTest, RmiYieldsTheSongInItsDataChunk)
{
    const auto smf = TempoChangeSong();
    MidiFile song;
    ASSERT_EQ(song.Parse(RmiBytes(smf)), MidiFile::Status::Ok);
    EXPECT_EQ(song.Smf(), smf);
    EXPECT_EQ(song.LengthMicroseconds(), 1500000);
    EXPECT_EQ(song.Parse(RmiBytes(smf, false)), MidiFile::Status::Damaged);
}

TEST(MidiFileTest, BrokenFilesAreDamagedAndOthersAreNotMidi)
{
    const auto good = TempoChangeSong();
    MidiFile song;
    EXPECT_EQ(song.Parse(std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}),
              MidiFile::Status::NotMidi);
    EXPECT_EQ(song.Parse(std::vector<std::uint8_t>{}), MidiFile::Status::NotMidi);

    std::vector<std::vector<std::uint8_t>> damaged;
    // The track chunk claims more bytes than the file has.
    damaged.push_back(good);
    damaged.back()[21] += 10;
    // Cut in the middle of an event.
    damaged.emplace_back(good.begin(), good.end() - 5);
    damaged.back()[21] -= 5;
    // Header cut short.
    damaged.emplace_back(good.begin(), good.begin() + 12);
    // Two tracks announced, one present.
    damaged.push_back(good);
    damaged.back()[11] = 2;
    damaged.back()[9] = 1;
    // A data byte where a status byte is needed, with no running status.
    damaged.push_back(MidiFileBytes(0, 480, {MidiTrack({{0, {60, 100}}})}));
    // A system real-time byte inside a track.
    damaged.push_back(MidiFileBytes(0, 480, {MidiTrack({{0, {0xF8}}})}));
    // Zero ticks per quarter note.
    damaged.push_back(MidiFileBytes(0, 0, {MidiTrack({noteOn})}));
    // A delta time longer than four bytes.
    damaged.push_back(
        MidiFileBytes(0, 480, {{'M', 'T', 'r', 'k', 0, 0, 0, 8, 0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100}}));
    // Tempo and end-of-track events of the wrong size, which the synthesizer refuses.
    damaged.push_back(MidiFileBytes(0, 480, {MidiTrack({noteOn, {0, {0xFF, 0x51, 0x02, 0x07, 0xA1}}})}));
    damaged.push_back(MidiFileBytes(0, 480, {MidiTrack({noteOn, {0, {0xFF, 0x2F, 0x01, 0x00}}})}));
    // Garbage where a chunk should begin.
    damaged.push_back(good);
    damaged.back().insert(damaged.back().begin() + 14, {0x00, 0xFF, 'x', 'y', 0, 0, 0, 0});
    for (std::size_t i = 0; i < damaged.size(); ++i)
        EXPECT_EQ(song.Parse(damaged[i]), MidiFile::Status::Damaged) << "case " << i;
}

TEST(MidiFileTest, SmpteTimingIsHandedOnInMetricalForm)
{
    // 25 frames of 40 ticks, a tempo event to be ignored, a note of 1000 ticks.
    const std::uint16_t smpte = std::uint16_t((0x100 - 25) << 8 | 40);
    MidiFile song;
    ASSERT_EQ(song.Parse(MidiFileBytes(0, smpte, {MidiTrack({Tempo(0, 250000), noteOn, {1000, {0x80, 60, 0}}})})),
              MidiFile::Status::Ok);
    // Same ticks, 1000 to the quarter note, a quarter note lasting a second; the old tempo event
    // became a sequencer-specific one.
    const auto expected = MidiFileBytes(
        0, 1000,
        {MidiTrack({Tempo(0, 1000000), {0, {0xFF, 0x7F, 0x03, 0x03, 0xD0, 0x90}}, noteOn, {1000, {0x80, 60, 0}}})});
    EXPECT_EQ(song.Smf(), expected);
    MidiFile converted;
    ASSERT_EQ(converted.Parse(song.Smf()), MidiFile::Status::Ok);
    EXPECT_EQ(converted.LengthMicroseconds(), song.LengthMicroseconds());

    // 29.97 frames per second stand as 30 with a quarter note of 1.001 s.
    const std::uint16_t dropFrame = std::uint16_t((0x100 - 29) << 8 | 4);
    ASSERT_EQ(song.Parse(MidiFileBytes(0, dropFrame, {MidiTrack({noteOn, {1200, {0x80, 60, 0}}})})),
              MidiFile::Status::Ok);
    EXPECT_EQ(song.LengthMicroseconds(), 10010000);
    ASSERT_EQ(converted.Parse(song.Smf()), MidiFile::Status::Ok);
    EXPECT_EQ(converted.LengthMicroseconds(), 10010000);
}

TEST(MidiFileTest, UnknownChunksAreSkipped)
{
    auto bytes = TempoChangeSong();
    const std::vector<std::uint8_t> foreign = {'X', 'F', 'I', 'H', 0, 0, 0, 2, 1, 2};
    bytes.insert(bytes.begin() + 14, foreign.begin(), foreign.end());
    EXPECT_EQ(LengthMs(bytes), 1500);
}

} // namespace
