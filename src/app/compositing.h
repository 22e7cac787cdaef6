#pragma once

#include <optional>

#include <QProcessEnvironment>
#include <QString>

namespace pictarre {

// How the browser views put their frames together on the screen.
enum class Compositing {
    AsTheUserSet,  // the user's environment names Qt's backend; Qt follows it on its own
    Gpu,           // through OpenGL (or whatever Qt picks), on a real graphics processor
    Software,      // with Qt's software renderer, when the only OpenGL draws on the processor
};

// True when the environment already says how Qt Quick composites (QT_QUICK_BACKEND, or an
// explicit QSG_RHI_BACKEND), so that nothing needs to be asked of the platform.
bool compositingSetByUser(const QProcessEnvironment& environment);

// The choice made at start-up. `renderer` is the OpenGL renderer the platform reports
// (GL_RENDERER), nothing when it offers no usable OpenGL. A software rasteriser composites
// each frame on the processor at several times the cost of Qt's own software renderer, so only
// a real graphics processor keeps the OpenGL path.
Compositing chooseCompositing(const QProcessEnvironment& environment, const std::optional<QString>& renderer);

// Asks the platform and settles the views' compositing; call after the application object and
// before the first browser view.
void settleCompositing(const QProcessEnvironment& environment);

}  // namespace pictarre
