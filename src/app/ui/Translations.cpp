#include "app/ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kestrel {

bool installChineseTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // qt_zh_CN pulls in qtbase_zh_CN, which holds the dialogs' texts.
    if (!translator->load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace kestrel
