// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

namespace tavrin::program {

namespace {

// The options QGuiApplication, QApplication and the xcb platform take out of argv
// themselves (Qt 6); they are accepted here and handed on untouched.
constexpr const char* kQtValueOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "geometry",
                                           "qwindowicon",
                                           "icon",
                                           "qwindowtitle",
                                           "title",
                                           "session",
                                           "display",
                                           "name",
                                           "style",
                                           "stylesheet",
                                           "qmljsdebugger"};
constexpr const char* kQtFlagOptions[] = {"reverse", "sync",   "widgetcount",
                                          "nograb",  "dograb", "testability"};

std::string usage(const ProgramIdentity& identity) {
    std::string text = "Usage: " + std::string(identity.executable) + " [options]\n";
    text += "Shows and records the picture of a handheld console's USB capture board.\n\n"
            "Options:\n"
            "  -h, --help     Print this help and exit.\n"
            "  -v, --version  Print the name and version and exit.\n\n"
            "Qt's own options (-platform, -display, -style, ...) are accepted as well.\n";
    return text;
}

} // namespace

std::string_view programVersion() {
    return TAVRIN_VERSION;
}

CommandLineOutcome parseCommandLine(const std::vector<std::string>& args, const ProgramIdentity& identity) {
    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform xcb"), not bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QStringList list;
    for (const std::string& arg : args)
        list << QString::fromLocal8Bit(arg.data(), static_cast<qsizetype>(arg.size()));
    if (list.isEmpty())
        list << QString::fromUtf8(identity.executable.data(),
                                  static_cast<qsizetype>(identity.executable.size()));

    CommandLineOutcome outcome;
    std::string error;
    if (!parser.parse(list))
        error = parser.errorText().toStdString();
    else if (!parser.positionalArguments().isEmpty())
        error = "Unexpected argument '" + parser.positionalArguments().constFirst().toStdString() + "'.";
    if (!error.empty()) {
        outcome.run = false;
        outcome.exitCode = 2;
        outcome.err = std::string(identity.executable) + ": " + error + "\n" + usage(identity);
    } else if (parser.isSet(help)) {
        outcome.run = false;
        outcome.out = usage(identity);
    } else if (parser.isSet(version)) {
        outcome.run = false;
        outcome.out = std::string(identity.displayName) + " " + std::string(programVersion()) + "\n";
    }
    return outcome;
}

} // namespace tavrin::program
