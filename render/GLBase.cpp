#include "render/GLBase.h"

#include <cstring>

namespace Quorvane {
namespace Core {

namespace {

struct VersionCode {
    const char* text;
    int code;
};

// Searched in this order: the first ES version named in the string wins.
const VersionCode kESVersions[] = {
    {"OpenGL ES 3.2", 5}, {"OpenGL ES 3.1", 4}, {"OpenGL ES 3.0", 3},
    {"OpenGL ES 2.", 2},  {"OpenGL ES 1.", 1},
};
// An ES string naming none of the above (e.g. "OpenGL ES-CM 1.1").
constexpr int kOtherESCode = 5;

// Compared with the first three characters of a desktop version string.
const VersionCode kDesktopVersions[] = {
    {"1.0", 20}, {"1.1", 21}, {"1.2", 22}, {"1.3", 23}, {"1.4", 24}, {"1.5", 25}, {"2.0", 26},
    {"2.1", 27}, {"3.0", 28}, {"3.1", 29}, {"3.2", 30}, {"3.3", 31}, {"4.0", 32},
};
constexpr int kNewerDesktopCode = 33;

}  // namespace

int GLBase::openGLVersionCode(const char* version) {
    if (!version) return 0;
    if (strstr(version, "OpenGL ES")) {
        for (const auto& entry : kESVersions) {
            if (strstr(version, entry.text)) return entry.code;
        }
        return kOtherESCode;
    }
    for (const auto& entry : kDesktopVersions) {
        if (strncmp(version, entry.text, 3) == 0) return entry.code;
    }
    return kNewerDesktopCode;
}

bool GLBase::hasExtension(const char* name) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    if (glGetError() == GL_NO_ERROR && count > 0) {
        for (GLint i = 0; i < count; ++i) {
            const char* extension =
                reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
            if (extension && strcmp(extension, name) == 0) return true;
        }
        return false;
    }
    // Contexts before 3.0 list them in one string.
    const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const size_t length = strlen(name);
    for (const char* at = all; at && (at = strstr(at, name)) != nullptr; at += length) {
        if ((at == all || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

int GLBase::getOpenGLVersion() {
    return openGLVersionCode(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
}

}  // namespace Core
}  // namespace Quorvane
