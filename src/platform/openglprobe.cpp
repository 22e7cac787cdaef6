#include "platform/openglprobe.h"

#include <QDir>
#include <QFileInfo>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace pictarre {

namespace {

// A graphics processor shows as a DRM device, or as NVIDIA's own device nodes. Without one, any
// OpenGL is a software rasteriser, and making a context only to hear so would load it (Mesa's
// llvmpipe brings in LLVM: 30 MB and tens of milliseconds).
bool graphicsDevicePresent()
{
    return !QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("card*"), QStringLiteral("renderD*")},
                                                        QDir::System).isEmpty() ||
        QFileInfo::exists(QStringLiteral("/dev/nvidia0"));
}

}  // namespace

std::optional<QString> openGlRenderer()
{
    if (!graphicsDevicePresent())
        return std::nullopt;
    QOpenGLContext context;
    if (!context.create())
        return std::nullopt;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return std::nullopt;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    std::optional<QString> renderer;
    if (name)
        renderer = QString::fromLatin1(name);
    context.doneCurrent();
    return renderer;
}

void compositeInSoftware()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

}  // namespace pictarre
