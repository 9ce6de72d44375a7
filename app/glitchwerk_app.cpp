#include "glitchwerk_app.h"

#include "glitchwerk_dlg.h"
#include "prompts.h"

namespace glitchwerk {

CGlitchwerkApp::CGlitchwerkApp(int& argc, char** argv) : m_application(argc, argv) {}

bool CGlitchwerkApp::InitInstance() {
    QtPrompts prompts;
    CGlitchwerkDlg dialog(prompts);
    dialog.DoModal();
    return false;
}

} // namespace glitchwerk
