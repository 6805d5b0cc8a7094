// tamblo-gallery DIR: renders the display controls in their main states to PNG files in DIR,
// for a person to look at.
#include "base/Exception.h"
#include "tools/gallery/Gallery.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamblo-gallery DIR\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "tamblo-gallery: cannot create %s\n", argv[1]);
        return 1;
    }
    try {
        RenderGaugeGallery(dir);
        RenderButtonGallery(dir);
        RenderLcdGallery(dir);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tamblo-gallery: %s\n", error.what());
        return 1;
    }
    return 0;
}
