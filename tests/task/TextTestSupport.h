// A stand-in for the external text renderer "Scrivane", and the templates the
// text image tests render.
//
// The stand-in is this test program itself: installScrivane writes a small
// shell script named "Scrivane" that runs the test binary again with
// QV_SCRIVANE_STAND_IN set, and TextStandIn.cpp takes over before any test
// runs. Like the real program it reads the font list and the text list it is
// given and writes one PNG per entry at the entry's "output" path; the image
// is 16 x 16 pixels of the entry's text read as a "#RRGGBB" colour (white
// otherwise), so a rendered frame shows which text reached which layer.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace QvTextTest {

enum class ScrivaneMode {
    Draw,        // every entry drawn, exit code 0
    DrawNone,    // nothing drawn, yet exit code 0
    DrawBroken,  // every output holds bytes that are no image, exit code 0
    ExitFailed,  // exit code 3 without drawing
};

// Side length of the images the stand-in draws.
constexpr int kTextImageSize = 16;

// Writes folder + "Scrivane" (the folder is a prefix, as the engine uses it)
// and folder + "font_list.json". Each run appends its arguments to `record`.
void installScrivane(const std::string& folder, ScrivaneMode mode, const std::string& record);

// The arguments of every run recorded so far, one vector per run.
std::vector<std::vector<std::string>> recordedRuns(const std::string& record);

inline std::string makeFolder(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
    return path + "/";
}

}  // namespace QvTextTest
