#pragma once
// The user's language: Kivra's catalogue and Qt's own, picked from the locale at start-up.

#include <QLocale>
#include <QString>

namespace kivra {

// Installs the catalogues of the first of `locale`'s languages that Kivra speaks, Kivra's and
// Qt's own for the same language (standard buttons, socket errors), in place of those an earlier
// call installed. English, the language the texts are written in, needs none: a locale that
// prefers English before any language with a catalogue gets none. Returns the language installed
// ("de"), or an empty string for English.
QString InstallTranslations(const QLocale& locale = QLocale::system());

}  // namespace kivra
