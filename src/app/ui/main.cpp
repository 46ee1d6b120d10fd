// kestrel-gui: the desktop workbench. With "--screenshots OUTDIR" it instead
// walks through every window on the sample corpus and saves a picture of
// each into OUTDIR.
#include <QStringList>
#include <cstdio>

#include "app/ui/CKestrelApp.h"
#include "app/ui/ScreenshotTour.h"

int main(int argc, char** argv) {
    kestrel::CKestrelApp app(argc, argv);
    const QStringList args = app.arguments();
    const int shots = args.indexOf(QStringLiteral("--screenshots"));
    if (shots >= 0) {
        if (shots + 1 >= args.size()) {
            std::fprintf(stderr, "usage: kestrel-gui --screenshots OUTDIR [--corpus SAMPLE_SEG_DIR]\n");
            return 2;
        }
        const int corpus = args.indexOf(QStringLiteral("--corpus"));
        const QString corpusDir = corpus >= 0 && corpus + 1 < args.size() ? args[corpus + 1] : QString();
        return kestrel::runScreenshotTour(args[shots + 1], corpusDir, app.startupDirectory());
    }
    return app.run();
}
