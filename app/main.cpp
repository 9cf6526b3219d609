#include "app/program.h"
#include "app/singleinstance.h"
#include "app/translations.h"
#include "musicmaker/render.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <algorithm>
#include <cstring>

namespace {
QtMessageHandler g_qtHandler = nullptr;

// Kivra's own categories (kivra.synth, kivra.link, ...) are its log on standard error, warnings
// and worse unless QT_LOGGING_RULES asks for more. Qt's own diagnostics (a missing runtime
// folder, a font fallback) tell a player nothing and are dropped unless asked for the same way.
void FilterMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool ours = context.category && std::strncmp(context.category, "kivra.", 6) == 0;
    // A fatal message ends the program: it is always told (no display, no platform plugin).
    if ((ours || type == QtFatalMsg || qEnvironmentVariableIsSet("QT_LOGGING_RULES")) && g_qtHandler)
        g_qtHandler(type, context, text);
}

// Every option and argument Kivra takes is declared here, in the user's language once the
// catalogues are installed.
void DeclareOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QCoreApplication::translate("main", "Virtual piano and step sequencer."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QCoreApplication::translate("main", "A Standard MIDI File to open in the Music Maker; handed to "
                                                                     "the Kivra already running, if there is one."),
                                 QStringLiteral("[file]"));
    parser.addOption({QStringLiteral("render"),
                      QCoreApplication::translate("main", "Render the song of a Standard MIDI File to a sound file (.wav or .flac) "
                                                          "with the Sound settings, without a display: kivra --render song.mid song.wav")});
}
}  // namespace

int main(int argc, char** argv) {
    QLoggingCategory::setFilterRules(QStringLiteral("kivra.*.debug=false\nkivra.*.info=false"));
    g_qtHandler = qInstallMessageHandler(&FilterMessage);
    QCoreApplication::setApplicationName(QStringLiteral("Kivra"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kivra"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVRA_VERSION));
    QCommandLineParser parser;
    DeclareOptions(parser);
    // Help and version need no display: they are answered before the window system is reached.
    // Qt's own options (-platform, -style) are only told apart once QApplication has taken them.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
        parser.parse(arguments);
        if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
            parser.isSet(QStringLiteral("version")) || parser.isSet(QStringLiteral("render"))) {
            QCoreApplication core(argc, argv);
            kivra::InstallTranslations();  // needs the application; the help is then told translated
            QCommandLineParser told;
            DeclareOptions(told);
            told.process(core);  // help and version print, then end the program
            QTextStream err(stderr);
            const QStringList files = told.positionalArguments();
            if (files.size() != 2) {
                err << QCoreApplication::translate("main", "kivra: --render takes a MIDI file and a sound file, "
                                                           "e.g. kivra --render song.mid song.wav\n");
                return 2;
            }
            return kivra::RenderSongFile(files[0], files[1], err);
        }
    }
    // Without a window system Qt would abort with a note about plugins; say what is missing. A
    // platform asked for on the command line (-platform offscreen) needs no display.
    const auto platformAsked = [argc, argv] {
        return std::any_of(argv + 1, argv + argc, [](const char* a) { return !std::strcmp(a, "-platform") || !std::strcmp(a, "--platform"); });
    };
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !platformAsked()) {
        QCoreApplication core(argc, argv);
        kivra::InstallTranslations();
        QTextStream(stderr) << QCoreApplication::translate("main", "kivra: there is no display to show the piano on "
                                                                   "(neither DISPLAY nor WAYLAND_DISPLAY is set). "
                                                                   "kivra --render works without one.\n");
        return 1;
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("kivra"));
    parser.process(app);  // a wrong option is told and ends the program
    const QStringList files = parser.positionalArguments();
    const QString songFile = files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
    if (kivra::HandToRunningKivra(songFile)) return 0;
    kivra::InstallTranslations();
    kivra::Main(songFile);
    return app.exec();
}
