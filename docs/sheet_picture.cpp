// SPDX-License-Identifier: MIT
// Draws the README's contact sheet: an NES ROM built here with cc65, nine
// variants of it from glitchwerk-cli with random bytes in the tiles of its
// capitals (CHR tiles 40h to 5Fh, the font's ASCII), each
// played to frame 180 in nestopia (Debian's, or the one
// scripts/fetch-libretro.sh unpacked).
//   build-run/docs/glitchwerk_sheet_picture docs/glitchwerk-sheet.png

#include "cli/cli.h"
#include "cli/play_command.h"
#include "tests/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {

// Letters over the whole screen, so that every bent tile shows.
constexpr char kSource[] = R"(#include <conio.h>
int main(void) {
    static const char text[] = "GLITCHWERK ";
    unsigned char x, y, width, height;
    screensize(&width, &height);
    clrscr();
    for (y = 0; y < height; ++y) {
        gotoxy(0, y);
        for (x = 0; x < width; ++x)
            cputc(text[(x + 2 * y) % 11]);
    }
    for (;;) {
    }
    return 0;
}
)";

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 2) {
        std::cerr << "usage: glitchwerk_sheet_picture SHEET.png\n";
        return 2;
    }
    fs::path nestopia = fs::path(GLITCHWERK_UNPACKED_CORES) / "nestopia_libretro.so";
    if (!fs::exists(nestopia))
        nestopia = fs::path(GLITCHWERK_DEBIAN_CORES) / "nestopia_libretro.so";
    const glitchwerk::testing::TempDir dir;
    std::ofstream(dir / "letters.c") << kSource;
    const std::string rom = (dir / "letters.nes").string();
    if (std::system(("cl65 -t nes -O -o " + rom + " " + (dir / "letters.c").string()).c_str()) !=
        0) {
        std::cerr << "cl65 failed (apt-get install cc65)\n";
        return 1;
    }
    constexpr std::uint32_t kFirst = 2501, kVariants = 9;
    const int made =
        glitchwerk::RunCli({"corrupt", rom, "-o", (dir / "try-{seed}.nes").string(), "--range",
                            "8410:8610", "--random", "--pick", "24", "--seed",
                            std::to_string(kFirst), "--variants", std::to_string(kVariants)},
                           std::cout, std::cerr);
    if (made != 0)
        return made;
    std::vector<glitchwerk::SheetVariant> variants;
    for (std::uint32_t seed = kFirst; seed < kFirst + kVariants; ++seed)
        variants.push_back({(dir / ("try-" + std::to_string(seed) + ".nes")).string(), seed});
    glitchwerk::SheetRequest request{argv[1], rom, 180, nestopia.string()};
    request.force = true;
    return glitchwerk::WriteContactSheet(variants, request, std::cout, std::cerr);
}
