// SPDX-License-Identifier: MIT
#include "app/glitchwerk_app.h"

int main(int argc, char** argv) {
    glitchwerk::CGlitchwerkApp app(argc, argv);
    app.InitInstance();
    return 0;
}
