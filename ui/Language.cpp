#include "ui/Language.h"

#include <QCoreApplication>
#include <QTranslator>
#include <memory>

#include "ui/DialogTexts.h"
#include "update/Texts.h"

namespace velmora::ui {

namespace {

// Outlives the application object: the worker may still ask for a text while the program ends.
QTranslator& translator() {
    static QTranslator japanese;
    return japanese;
}

}  // namespace

void useLanguage(i18n::Language language) {
    QCoreApplication::removeTranslator(&translator());
    if (language == i18n::Language::English || !translator().load(QStringLiteral(":/i18n/velmora_ja.qm"))) {
        i18n::use(i18n::Language::English, nullptr);
        return;
    }
    QCoreApplication::installTranslator(&translator());
    i18n::use(language, [](const char* context, const char* source) -> std::optional<std::string> {
        const QString found = translator().translate(context, source);
        return found.isNull() ? std::nullopt : std::optional<std::string>(found.toStdString());
    });
}

QString shownLabel(const char* text) {
    return QString::fromStdString(labels::shown(text));
}

QString shownText(const char* text) {
    return QString::fromStdString(texts::shown(text));
}

}  // namespace velmora::ui
