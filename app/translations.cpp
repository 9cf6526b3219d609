#include "app/translations.h"

#include "app/datadir.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace kivra {
namespace {

struct Installed {
    QString language;
    std::unique_ptr<QTranslator> kivra, qt;
};

Installed& Catalogues() {
    static Installed installed;
    return installed;
}

// `name`_`language`.qm from the first folder that holds it (QTranslator drops a region it lacks:
// "de_AT" finds kivra_de.qm), installed; nothing when none does.
std::unique_ptr<QTranslator> Install(const QString& name, const QString& language, const QStringList& folders) {
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(name + QLatin1Char('_') + language, folder) && QCoreApplication::installTranslator(translator.get()))
            return translator;
    }
    return nullptr;
}

}  // namespace

QString InstallTranslations(const QLocale& locale) {
    Installed& installed = Catalogues();
    for (QTranslator* t : {installed.kivra.get(), installed.qt.get()})
        if (t) QCoreApplication::removeTranslator(t);
    installed = {};
    // Installed beside the program's data, else the build tree's.
    const QStringList folders{FindDataDir() + QStringLiteral("/translations"),
                              QStringLiteral(KIVRA_BUILD_TRANSLATIONS_DIR)};
    for (QString language : locale.uiLanguages()) {
        if (language == QLatin1String("C") || language.startsWith(QLatin1String("en"))) break;
        language.replace(QLatin1Char('-'), QLatin1Char('_'));
        if ((installed.kivra = Install(QStringLiteral("kivra"), language, folders))) {
            installed.language = installed.kivra->language();
            installed.qt = Install(QStringLiteral("qtbase"), language, {QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
            break;
        }
    }
    return installed.language;
}

}  // namespace kivra
