#include "glitchwerk_app.h"

#include "file_stream.h"
#include "glitchwerk_dlg.h"
#include "prompts.h"

namespace glitchwerk {

CGlitchwerkApp::CGlitchwerkApp(int& argc, char** argv) : m_application(argc, argv) {}

bool CGlitchwerkApp::InitInstance() {
    // A full disk or a file size limit must show up as a failed write, never
    // end the program half-way through a restore.
    IgnoreFileSizeSignal();
    QtPrompts prompts;
    CGlitchwerkDlg dialog(prompts);
    dialog.DoModal();
    return false;
}

} // namespace glitchwerk
