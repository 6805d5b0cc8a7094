#include "media/MediaPlayer.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// Every sample the demo writes must load in the player and report the length it was made with.
TEST(DemoSamples, EverySampleLoadsWithItsLength)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string command = TAMBLO_SOURCE_DIR "/scripts/make-samples '" + folder.path().toStdString() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const std::pair<const char *, std::int32_t> samples[] = {
        {"tone.wav", 4200}, {"tune.mid", 12000}, {"tune.rmi", 12000}, {"tone.mp3", 6000}};
    for (const auto &[name, length] : samples) {
        TMediaPlayer player;
        player.setFileName(folder.filePath(QString::fromLatin1(name)));
        try {
            player.OpenDevice();
        } catch (const std::exception &error) {
            ADD_FAILURE() << name << ": " << error.what();
            continue;
        }
        player.setTimeFormatCode(0);
        EXPECT_EQ(player.MediaLength(), length) << name;
    }
}

} // namespace
