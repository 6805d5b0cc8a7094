#include "media/MciDefs.h"
#include "tests/media/MediaFixtures.h"

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {

// Runs the probe with SDL on ALSA, whose default output is the device given in ALSA's own
// configuration language (ALSA's stock configuration when none is given); gives the probe's
// "name value" lines, and what it printed as errors.
std::map<std::string, unsigned> ProbeWithAlsa(const FixtureDir &dir, const std::string &defaultPcm,
                                              const std::string &sound, QByteArray *errors = nullptr)
{
    const std::string config = dir.Path("alsa.conf");
    std::ofstream(config) << "</usr/share/alsa/alsa.conf>\npcm.!default {\n" << defaultPcm << "\n}\n";
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("alsa"));
    if (!defaultPcm.empty())
        environment.insert(QStringLiteral("ALSA_CONFIG_PATH"), QString::fromStdString(config));
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(dir.Path("")));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(TAMBLO_SOUND_CARD_PROBE), {QString::fromStdString(sound)});
    EXPECT_TRUE(probe.waitForFinished(60000));
    if (errors != nullptr)
        *errors = probe.readAllStandardError();
    std::map<std::string, unsigned> values;
    for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values[parts[0].toStdString()] = parts[1].toUInt();
    }
    return values;
}

// With only ALSA's default output set up, SDL lists no device at all; the default plays.
TEST(SoundCardTest, DefaultOutputThatOpensCountsAsASoundCard)
{
    FixtureDir dir;
    const std::string wave = dir.Path("beep.wav");
    WriteWave(wave, 8000, 1, 1600, SF_FORMAT_PCM_16);
    auto found = ProbeWithAlsa(dir, "type null", wave);
    EXPECT_EQ(found["devices"], 1u);
    EXPECT_EQ(found["next-output"], 2u); // the check left no output open
    EXPECT_EQ(found["open"], 0u);
    EXPECT_EQ(found["play"], 0u);
    EXPECT_EQ(found["played"], 200u);
}

TEST(SoundCardTest, NoOutputIsNoSoundCard)
{
    if (QDir(QStringLiteral("/dev/snd")).exists())
        GTEST_SKIP() << "this machine has sound cards, which ALSA lists whatever its default";
    FixtureDir dir;
    const std::string wave = dir.Path("beep.wav");
    WriteWave(wave, 8000, 1, 1600, SF_FORMAT_PCM_16);
    // A default output on a card that is not there, and ALSA's stock configuration on a machine
    // without cards.
    for (const std::string &defaultPcm : {std::string("type hw\ncard 31"), std::string()}) {
        QByteArray errors;
        auto found = ProbeWithAlsa(dir, defaultPcm, wave, &errors);
        EXPECT_EQ(found.count("devices"), 1u);
        EXPECT_EQ(found["devices"], 0u);
        EXPECT_EQ(found["next-output"], 0u);
        EXPECT_EQ(found["open"], MCIERR_NO_OUTPUT_DEVICE);
        // The sound library's complaints go to the debug log: the program says it in one line.
        EXPECT_FALSE(errors.contains("ALSA lib")) << errors.toStdString();
    }
}

} // namespace
