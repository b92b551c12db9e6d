// Writes Tovelle's icon as PNG files for the desktop: tovelle-icon <folder> <size>...
// Each size goes to <folder>/<size>x<size>/apps/tovelle.png (the hicolor layout).
#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

#include "tovelle_icon.h"

int main(int argc, char *argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tovelle-icon <folder> <size>...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "tovelle-icon: bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !tovelle::DrawTovelleIcon(size).save(dir + QStringLiteral("/tovelle.png"))) {
            std::fprintf(stderr, "tovelle-icon: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
