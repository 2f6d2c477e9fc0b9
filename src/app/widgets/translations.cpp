#include "app/widgets/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/translate.h"

namespace tamborix::ui {

namespace {

// The first of the user's languages ("de-AT", then "de", …) that the program carries.
const EmbeddedTranslation* bestTranslation() {
    for (const auto& wanted : QLocale().uiLanguages()) {
        const QString language = wanted.section('-', 0, 0);
        for (const auto& t : embeddedTranslations()) {
            if (language == QLatin1String(t.language)) return &t;
        }
    }
    return nullptr;
}

}  // namespace

bool installTranslations() {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    const auto* chosen = bestTranslation();
    if (chosen == nullptr) return false;
    // Qt's own texts (standard buttons, the context menus of text fields), where the system has
    // them; the helper's texts do not depend on it.
    auto* qt = new QTranslator(app);
    if (qt->load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
    auto* own = new QTranslator(app);
    if (!own->load(chosen->data, static_cast<int>(chosen->size)) || !QCoreApplication::installTranslator(own)) {
        delete own;
        return false;
    }
    setTranslator([](const char* context, const char* source) {
        return QCoreApplication::translate(context, source).toStdString();
    });
    return true;
}

}  // namespace tamborix::ui
