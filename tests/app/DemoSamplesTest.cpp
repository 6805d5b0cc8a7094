#include "media/MediaPlayer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Every sample the demo writes must load in the player and report the length it was made with.
TEST(DemoSamples, EverySampleLoadsWithItsLength)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess script;
    script.start(QStringLiteral(TAMBLO_SOURCE_DIR "/scripts/make-samples"), {folder.path()});
    ASSERT_TRUE(script.waitForFinished(60000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();

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
