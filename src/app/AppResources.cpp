#include "app/AppResources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QtGlobal>

static void initGlyphs() { Q_INIT_RESOURCE(glyphs); }
#ifdef QV_EMBEDDED_QT_TRANSLATIONS
static void initTranslations() { Q_INIT_RESOURCE(qt_translations); }
#else
static void initTranslations() {}
#endif

namespace qv {

void InitAppResources()
{
    static const bool done = (initGlyphs(), initTranslations(), true);
    (void)done;
}

bool InstallPolishTranslations(QCoreApplication &app)
{
    InitAppResources();
    static QTranslator *installed = nullptr;
    if (installed)
        return true;
    auto *translator = new QTranslator(&app);
    // The copy built into the program first, then Qt's installed one.
    if (!translator->load(QStringLiteral(":/i18n/qtbase_pl.qm")) &&
        !translator->load(QStringLiteral("qtbase_pl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

}  // namespace qv
