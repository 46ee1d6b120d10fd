#pragma once
// Qt's own texts (the folder browser, the buttons of message boxes, "Show
// Details…") in Chinese, to match the program's own texts, whatever the
// system language is.
class QCoreApplication;

namespace kestrel {

// Loads and installs Qt's Chinese (zh_CN) translations from Qt's
// translations directory; the translator is owned by `app`. False when
// they are not installed (Debian's qt6-translations-l10n); Qt's texts then
// stay English.
bool installChineseTranslations(QCoreApplication& app);

}  // namespace kestrel
