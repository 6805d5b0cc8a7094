#include "app/TApplication.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The window names the desktop entry that is installed, and the entry starts the program with
// the window's icon; a rename on one side only leaves the running program without its entry.
TEST(DesktopEntry, IsTheOneTheApplicationNames)
{
    EXPECT_EQ(QGuiApplication::desktopFileName(), QLatin1String(TApplication::DesktopId));
    const QString path =
        QStringLiteral(TAMBLO_SOURCE_DIR "/packaging/%1.desktop").arg(QLatin1String(TApplication::DesktopId));
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
    QSettings entry(path, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("tamblo"));
    EXPECT_EQ(entry.value(QStringLiteral("Icon")).toString(), QLatin1String(TApplication::DesktopId));
    EXPECT_EQ(entry.value(QStringLiteral("StartupWMClass")).toString(), QLatin1String(TApplication::Title));
}

QImage themeIcon(const QTemporaryDir &theme, int size)
{
    return QImage(theme.filePath(QStringLiteral("%1x%1/apps/tamblo.png").arg(size)))
        .convertToFormat(QImage::Format_ARGB32);
}

// Transparent pixels count as equal whatever colour they carry.
bool samePixel(QRgb a, QRgb b) { return (qAlpha(a) == 0 && qAlpha(b) == 0) || a == b; }

// The icons the desktop shows are the window's own icon: the same pixels at its size, each pixel
// a clean square at whole multiples, and the same picture, only smoother, in between.
TEST(ThemeIcons, EverySizeIsTheWindowIcon)
{
    QTemporaryDir theme;
    ASSERT_TRUE(theme.isValid());
    QProcess resgen;
    resgen.start(QStringLiteral(TAMBLO_RESGEN_PATH),
                 {QStringLiteral("--hicolor"), theme.path(), QStringLiteral("tamblo")});
    ASSERT_TRUE(resgen.waitForFinished(60000));
    ASSERT_EQ(resgen.exitCode(), 0) << resgen.readAllStandardError().toStdString();

    const QImage window =
        QImage(QStringLiteral(TAMBLO_SOURCE_DIR "/resources/tamblo.ico")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(window.size(), QSize(32, 32));

    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage icon = themeIcon(theme, size);
        ASSERT_EQ(icon.size(), QSize(size, size)) << size;
        if (size % 32 == 0) {
            const int factor = size / 32;
            int differing = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    differing += !samePixel(icon.pixel(x, y), window.pixel(x / factor, y / factor));
            EXPECT_EQ(differing, 0) << size;
        } else {
            // The corners stay transparent, the record dot red and the body opaque.
            EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << size;
            EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0) << size;
            const QRgb dot = icon.pixel(size * 11 / 32, size * 15 / 32);
            EXPECT_GT(qRed(dot), 200) << size;
            EXPECT_LT(qGreen(dot), 60) << size;
            EXPECT_EQ(qAlpha(icon.pixel(size / 2, size * 24 / 32)), 255) << size;
        }
    }
}

} // namespace
