#include "app/ui/CKestrelApp.h"

#include <filesystem>
#include <system_error>

#include "app/ui/CKestrelDlg.h"
#include "app/ui/StepIcons.h"
#include "app/ui/Translations.h"

namespace kestrel {

namespace {

std::string currentDirectory() {
    std::error_code ec;
    const auto path = std::filesystem::current_path(ec);
    return ec ? std::string(".") : path.string();
}

}  // namespace

CKestrelApp::CKestrelApp(int& argc, char** argv) : QApplication(argc, argv), startupDirectory_(currentDirectory()) {
    setApplicationName(QStringLiteral("Kestrel"));
    setApplicationDisplayName(QStringLiteral("Larkspur"));
    setWindowIcon(QIcon(applicationIcon(64)));
    installChineseTranslations(*this);
}

int CKestrelApp::run() {
    CKestrelDlg window;
    window.classifier().startupDirectory = startupDirectory_;
    window.exec();
    return 0;
}

}  // namespace kestrel
