// SPDX-License-Identifier: MIT
#include "app/glitchwerk_app.h"

#include "app/glitchwerk_dlg.h"
#include "app/prompts.h"
#include "engine/file_stream.h"

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
