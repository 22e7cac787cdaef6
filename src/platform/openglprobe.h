#pragma once

#include <optional>

#include <QString>

namespace pictarre {

// The OpenGL renderer the platform offers the program's windows (GL_RENDERER), or nothing when
// the machine has no graphics device or no OpenGL context can be made current there. Needs the
// application object.
std::optional<QString> openGlRenderer();

// Has Qt Quick, and with it the browser views, composite with its software renderer. Takes
// effect only before the first view is made.
void compositeInSoftware();

}  // namespace pictarre
