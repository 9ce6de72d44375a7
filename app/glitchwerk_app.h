// SPDX-License-Identifier: MIT
#pragma once
// The application object: owns the toolkit's application and runs the one
// dialog of the program.

#include <QApplication>

class QCommandLineParser;

namespace glitchwerk {

// The program's arguments: --help, --version and the file to edit.
void DescribeArguments(QCommandLineParser& parser);

class CGlitchwerkApp {
  public:
    CGlitchwerkApp(int& argc, char** argv);

    // Runs the dialog until the user is done. Always returns false: the
    // program has no event loop of its own after the dialog.
    bool InitInstance();

  private:
    int& m_argc;
    char** m_argv;
    QApplication m_application;
};

} // namespace glitchwerk
