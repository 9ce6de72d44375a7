// SPDX-License-Identifier: MIT
#include "app/glitchwerk_app.h"

#include "app/qt_dialog_view.h"
#include "app/qt_path.h"
#include "engine/file_stream.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace glitchwerk {

void DescribeArguments(QCommandLineParser& parser) {
    QCoreApplication::setApplicationVersion(GLITCHWERK_VERSION);
    parser.setApplicationDescription("Corrupts chosen bytes of a file in place, and puts them "
                                     "back from a backup copy.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "The file to edit, instead of asking for one.", "[file]");
}

CGlitchwerkApp::CGlitchwerkApp(int& argc, char** argv) : m_application(argc, argv) {}

bool CGlitchwerkApp::InitInstance() {
    // A full disk or a file size limit must show up as a failed write, never
    // end the program half-way through a restore.
    IgnoreFileSizeSignal();
    QCommandLineParser parser;
    DescribeArguments(parser);
    parser.process(m_application); // ends the program after --help, --version or a wrong option
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fputs("glitchwerk: one file at a time\n", stderr);
        return false;
    }

    QtDialogView dialog;
    if (!files.isEmpty())
        dialog.Logic().OpenAtStart(ToPath(QFileInfo(files.front()).absoluteFilePath()));
    dialog.DoModal();
    return false;
}

} // namespace glitchwerk
