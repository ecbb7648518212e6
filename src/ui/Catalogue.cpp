#include "Catalogue.h"

#include <QCoreApplication>
#include <QTranslator>

static void initCatalogueResource()
{
    // The resource lives in a static library, so it must be registered by hand.
    Q_INIT_RESOURCE(catalogue);
}

bool installCatalogue(QCoreApplication *app)
{
    initCatalogueResource();
    auto *translator = new QTranslator(app);
    const bool loaded = translator->load(QStringLiteral(":/lanferry_en_US.qm"));
    app->installTranslator(translator);
    return loaded;
}
