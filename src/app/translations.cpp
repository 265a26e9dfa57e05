#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <vector>

// Outside any namespace, as the macro requires. The resource lives in a static library: it is
// brought in before the first look-up.
static void initTranslationResource() {
    Q_INIT_RESOURCE(translations);
}

namespace {

std::vector<std::unique_ptr<QTranslator>>& installed() {
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

} // namespace

namespace kbxapp {

bool setInterfaceLanguage(const QString& language) {
    initTranslationResource();
    for (const auto& translator : installed())
        QCoreApplication::removeTranslator(translator.get());
    installed().clear();
    if (language != QStringLiteral("ja"))
        return true;

    bool ours = false;
    // Qt's own texts (standard buttons, file dialogs): built in where the build found them, else
    // from Qt's folder of translations.
    for (const QString& dir :
         {QStringLiteral(":/translations"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(QStringLiteral("qtbase_ja"), dir)) {
            QCoreApplication::installTranslator(qt.get());
            installed().push_back(std::move(qt));
            break;
        }
    }
    auto own = std::make_unique<QTranslator>();
    if (own->load(QStringLiteral("kbxman_ja"), QStringLiteral(":/translations"))) {
        QCoreApplication::installTranslator(own.get());
        installed().push_back(std::move(own));
        ours = true;
    }
    return ours;
}

} // namespace kbxapp
