// One main() for every suite: a QApplication exists before any test runs, the per-user folders
// (settings, profiles) point into a fresh temporary folder, and the language is English whatever
// the machine's locale, as the program picks it at start-up.
#include "app/translations.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QByteArray root = home.path().toLocal8Bit();
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_RUNTIME_DIR", root.constData(), 1);  // where a running Kivra listens: this one
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    QApplication app(argc, argv);
    kivra::InstallTranslations();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
