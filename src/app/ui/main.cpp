// kestrel-gui: the desktop workbench. With "--screenshots OUTDIR" it instead
// walks through every window on the sample corpus and saves a picture of
// each into OUTDIR.
#include <QStringList>
#include <cstdio>
#include <string_view>

#include "app/ui/CKestrelApp.h"
#include "app/ui/ScreenshotTour.h"
#include "common/Version.h"

namespace {

const char* const kHelp =
    "Usage: kestrel-gui [options]\n"
    "Opens the Kestrel workbench, the desktop program that builds and evaluates\n"
    "text classifiers over Chinese documents: segmentation, feature selection,\n"
    "KNN or SVM classification and evaluation, one step per button.\n"
    "\n"
    "The segmenter's data is read from data/ under the directory the program is\n"
    "started in, then from $KESTREL_DATA, then from the data installed with the\n"
    "program (../share/kestrel/data beside the executable).\n"
    "\n"
    "Options:\n"
    "  --screenshots OUTDIR  open every window and dialog on the sample corpus,\n"
    "                        save a PNG picture of each into OUTDIR and quit\n"
    "  --corpus DIR          with --screenshots: the sample corpus to open, with\n"
    "                        train/, test/ and unlabelled/ (for example the\n"
    "                        installed share/kestrel/examples/sample-seg)\n"
    "  -h, --help            show this help and quit\n"
    "  --version             print the version and quit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window system is opened, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("kestrel-gui %s\n", kestrel::kestrelVersion());
            return 0;
        }
    }
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
