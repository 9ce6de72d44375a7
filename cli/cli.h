// SPDX-License-Identifier: MIT
#pragma once
// glitchwerk-cli: reproducible corruptions from the command line, on the
// engine alone. Apart from main(), so that tests run it in-process.

#include <ostream>
#include <string>
#include <vector>

namespace glitchwerk {

// Runs glitchwerk-cli with `args` (the program's name left out), printing to
// `out` and `err`. Returns the exit status: 0 done, 1 failed, 2 a usage error.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace glitchwerk
