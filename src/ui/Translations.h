#pragma once

// The language of the application's texts: the user's locale (QLocale::system(),
// from LANGUAGE, LC_ALL, LC_MESSAGES and LANG), or the ZELTO_LANG environment
// variable when set (such as "de"; for tests and screenshots). The translations
// ship inside the program; Qt's own (its standard buttons and dialogs) come from
// Qt's translations folder when installed. A language without a translation
// shows English, the language the texts are written in.
//
// GUI thread, once the QCoreApplication exists and before windows are made
// (texts already shown keep their language). Errors: none; a translation
// that cannot be loaded leaves English.
#include <QLocale>
#include <QString>
#include <QStringList>

class QCoreApplication;

namespace zelto::ui {

class Translations {
  public:
    // Installs the translations for the user's locale (or ZELTO_LANG); returns
    // the language in use ("de", or "en" for English).
    static QString install(QCoreApplication& app);
    // Installs those for `locale`, replacing any installed before.
    static QString install(QCoreApplication& app, const QLocale& locale);
    // The languages the application ships besides English.
    static QStringList shipped();
};

}  // namespace zelto::ui
