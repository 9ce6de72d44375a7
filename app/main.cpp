// SPDX-License-Identifier: MIT
#include "app/glitchwerk_app.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The window's application needs a display before it can read its arguments:
// --help and --version are answered first, without one, so that they work in
// any terminal. Everything else, Qt's own options included, is left to it.
void AnswerHelpOrVersion(int& argc, char** argv) {
    const QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    glitchwerk::DescribeArguments(parser);
    if (parser.parse(QCoreApplication::arguments()) &&
        (parser.isSet("help") || parser.isSet("version")))
        parser.process(application); // prints and ends the program
}

} // namespace

int main(int argc, char** argv) {
    AnswerHelpOrVersion(argc, argv);
    glitchwerk::CGlitchwerkApp app(argc, argv);
    app.InitInstance();
    return 0;
}
