// SPDX-License-Identifier: MIT
#include "app/glitchwerk_app.h"

#include "app/qt_dialog_view.h"
#include "app/qt_path.h"
#include "engine/file_stream.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <filesystem>
#include <string>

namespace glitchwerk {

void DescribeArguments(QCommandLineParser& parser) {
    QCoreApplication::setApplicationVersion(GLITCHWERK_VERSION);
    parser.setApplicationDescription("Corrupts chosen bytes of a file in place, and puts them "
                                     "back from a backup copy.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "The file to edit, instead of asking for one.", "[file]");
}

namespace {

// The file named on the command line as its bytes: a name that is no text in
// the system's encoding still names its file. Qt's own options are gone from
// argv by now; ours take no value.
std::filesystem::path FileArgument(int argc, char** argv) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!optionsEnd && word == "--")
            optionsEnd = true;
        else if (optionsEnd || word.empty() || word[0] != '-')
            return std::filesystem::path(word);
    }
    return {};
}

} // namespace

CGlitchwerkApp::CGlitchwerkApp(int& argc, char** argv)
    : m_argc(argc), m_argv(argv), m_application(argc, argv) {}

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
    if (!files.isEmpty()) {
#ifdef _WIN32
        dialog.Logic().OpenAtStart(ToPath(QFileInfo(files.front()).absoluteFilePath()));
#else
        std::error_code error;
        const std::filesystem::path file = FileArgument(m_argc, m_argv);
        const std::filesystem::path absolute = std::filesystem::absolute(file, error);
        dialog.Logic().OpenAtStart(error ? file : absolute);
#endif
    }
    dialog.DoModal();
    return false;
}

} // namespace glitchwerk
