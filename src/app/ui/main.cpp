// kestrel-gui: the desktop workbench.
#include <cstdio>
#include <string_view>

#include "app/ui/CKestrelApp.h"
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
    return app.run();
}
