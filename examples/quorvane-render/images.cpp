// The image mode of quorvane-render: still images through filter templates.
//
//   quorvane-render --images OUT_DIR --filter FILTER_DIR [--filter ...] IMAGE ...
//
// Each image is written into OUT_DIR under its own name (png and psd as .png,
// jpg and jpeg as .jpg, bmp as .bmp, tga as .tga); images that are missing, of
// another kind or larger than 4096 pixels are skipped. Standard output gets one
// JSON line with the final status; the exit code is 0 only for "end".
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "task/RenderImageProcess.h"

namespace {

const char* kImageUsage =
    "usage: quorvane-render --images OUT_DIR --filter FILTER_DIR [--filter ...] IMAGE ...\n"
    "  --images OUT_DIR   the folder the rendered images are written to\n"
    "  --filter DIR       a filter template folder; may be given several times, one is needed\n";

int usage(const std::string& message) {
    fprintf(stderr, "quorvane-render: %s\n%s", message.c_str(), kImageUsage);
    return 2;
}

}  // namespace

bool isImageMode(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--images") == 0) return true;
    }
    return false;
}

int runImageMode(int argc, char** argv) {
    std::string outputFolder;
    std::vector<std::string> filters;
    std::vector<std::string> images;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--images" || arg == "--filter") {
            if (i + 1 >= argc) return usage(arg + " needs a folder");
            if (arg == "--images") {
                outputFolder = argv[++i];
            } else {
                filters.push_back(argv[++i]);
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else {
            images.push_back(arg);
        }
    }

    // Missing filters or images are the engine's to refuse: the run then fails.
    unsigned long handle = 0;
    if (zr_create_render_image_process(&handle, images, outputFolder) != 0) {
        fprintf(stderr, "quorvane-render: could not create the render\n");
        return 1;
    }
    zr_render_image_process_set_filters(&handle, filters);
    int failed = zr_render_image_process_start(&handle);
    zr_render_image_process_release(&handle);
    printf("{\"status\":\"%s\"}\n", failed ? "fail" : "end");
    fflush(stdout);
    return failed ? 1 : 0;
}
