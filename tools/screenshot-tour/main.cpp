// kestrel-screenshot-tour: walks through every window, dialog and message
// box of the desktop program on the sample corpus and saves a picture of
// each; fails when a message box cuts its text. Run by scripts/screenshots.
#include <QStringList>
#include <cstdio>
#include <string_view>

#include "TourSteps.h"
#include "app/ui/CKestrelApp.h"

namespace {

const char* const kUsage =
    "Usage: kestrel-screenshot-tour OUTDIR --corpus DIR\n"
    "Opens every window, dialog and message box of the Kestrel workbench on a\n"
    "sample corpus of preprocessed documents (DIR holds train/, test/ and\n"
    "unlabelled/, for example examples/sample-seg) and saves a PNG picture of\n"
    "each into OUTDIR. The corpus is copied to a temporary directory first.\n"
    "Exits with 1 when a picture cannot be saved or a message box does not\n"
    "show its whole text. Run it from a build directory (the segmenter's data\n"
    "is read from data/ there), under a display (scripts/screenshots uses Xvfb).\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before a display is opened, so that they work without one.
    bool corpusGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--corpus" && i + 1 < argc) corpusGiven = true;
    }
    if (!corpusGiven || argc < 4) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    kestrel::CKestrelApp app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QString corpus;
    const int corpusAt = args.indexOf(QStringLiteral("--corpus"));
    if (corpusAt >= 0 && corpusAt + 1 < args.size()) {
        corpus = args[corpusAt + 1];
        args.remove(corpusAt, 2);
    }
    if (args.size() != 1 || corpus.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return kestrel::runScreenshotTour(args.front(), corpus, app.startupDirectory());
}
