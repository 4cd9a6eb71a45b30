#include "ui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <vector>

#include "app/Logging.h"
#include "sync/TranslatableText.h"

namespace zelto::ui {

namespace {

const QString kResourceFolder = QStringLiteral(":/i18n");
const QString kFileName = QStringLiteral("zelto-presets");

// Owned by the application; gone with it.
std::vector<QPointer<QTranslator>>& installed() {
    static std::vector<QPointer<QTranslator>> translators;
    return translators;
}

std::string translateStatusText(const char* source, int n) {
    return QCoreApplication::translate(statustext::translationContext, source, nullptr, n).toStdString();
}

bool add(QCoreApplication& app, const QLocale& locale, const QString& name, const QString& folder) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(locale, name, QStringLiteral("_"), folder)) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    installed().push_back(translator);
    return true;
}

}  // namespace

QString Translations::install(QCoreApplication& app) {
    const QString chosen = qEnvironmentVariable("ZELTO_LANG");
    return install(app, chosen.isEmpty() ? QLocale::system() : QLocale(chosen));
}

QString Translations::install(QCoreApplication& app, const QLocale& locale) {
    for (const auto& translator : installed()) delete translator.data();
    installed().clear();

    // English first: it holds the English plural forms ("1 preset"). A
    // translation installed later is asked first.
    add(app, QLocale(QLocale::English), kFileName, kResourceFolder);
    QString language = QStringLiteral("en");
    if (locale.language() != QLocale::English && locale.language() != QLocale::C) {
        if (add(app, locale, kFileName, kResourceFolder)) {
            language = QLocale::languageToCode(locale.language());
            add(app, locale, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        } else {
            qCInfo(zeltoUi) << "no translation for" << locale.name() << "- showing English";
        }
    }
    QLocale::setDefault(locale);
    statustext::setTranslator(&translateStatusText);
    return language;
}

QStringList Translations::shipped() {
    QStringList languages;
    const QString prefix = kFileName + QLatin1Char('_');
    for (const QString& file : QDir(kResourceFolder).entryList({prefix + QStringLiteral("*.qm")})) {
        const QString language = file.mid(prefix.size()).chopped(3);
        if (language != QLatin1String("en")) languages << language;
    }
    return languages;
}

}  // namespace zelto::ui
