#include "platform/openglprobe.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace pictarre {

std::optional<QString> openGlRenderer()
{
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
