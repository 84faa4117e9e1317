// Writes the program's icon as PNG files for the desktop's icon theme:
//   ormbrook_make_icons OUTPUT_DIR
// makes OUTPUT_DIR/<size>x<size>/apps/ormbrook.png for the usual sizes.

#include "windows/artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ormbrook_make_icons OUTPUT_DIR\n");
        return 2;
    }
    const QIcon icon = ormbrook::artwork::ProgramIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        QDir().mkpath(dir);
        if (!icon.pixmap(size, size).save(dir + "/ormbrook.png"))
            return 1;
    }
    return 0;
}
