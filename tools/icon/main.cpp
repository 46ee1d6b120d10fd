// kestrel-icon: writes the program's icon, drawn by the same code as the
// window icon, as the files a desktop installs: a scalable SVG and PNGs of
// the usual sizes, in the hicolor theme's layout under OUTDIR.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>

#include "app/ui/StepIcons.h"

namespace {

const int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool writeSvg(const QString& dir) {
    if (!QDir().mkpath(dir)) return false;
    QSvgGenerator svg;
    svg.setFileName(dir + "/kestrel.svg");
    svg.setSize(QSize(64, 64));
    svg.setViewBox(QRect(0, 0, 64, 64));
    svg.setTitle(QStringLiteral("Kestrel"));
    svg.setDescription(QStringLiteral("A kestrel hovering against the sky"));
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    kestrel::paintApplicationIcon(painter, 64);
    return painter.end();
}

bool writePng(const QString& dir, int size) {
    if (!QDir().mkpath(dir)) return false;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    kestrel::paintApplicationIcon(painter, size);
    painter.end();
    return image.save(dir + "/kestrel.png", "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kestrel-icon OUTDIR\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + "/hicolor";
    if (!writeSvg(out + "/scalable/apps")) {
        std::fprintf(stderr, "kestrel-icon: cannot write %s/scalable/apps/kestrel.svg\n", qPrintable(out));
        return 1;
    }
    for (int size : kSizes) {
        const QString dir = out + QString("/%1x%1/apps").arg(size);
        if (!writePng(dir, size)) {
            std::fprintf(stderr, "kestrel-icon: cannot write %s/kestrel.png\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
