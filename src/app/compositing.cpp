#include "app/compositing.h"

#include <array>

#include "platform/openglprobe.h"

namespace pictarre {

bool compositingSetByUser(const QProcessEnvironment& environment)
{
    return !environment.value(QStringLiteral("QT_QUICK_BACKEND")).isEmpty() ||
        !environment.value(QStringLiteral("QSG_RHI_BACKEND")).isEmpty();
}

Compositing chooseCompositing(const QProcessEnvironment& environment, const std::optional<QString>& renderer)
{
    if (compositingSetByUser(environment))
        return Compositing::AsTheUserSet;
    if (!renderer || renderer->trimmed().isEmpty())
        return Compositing::Software;
    // Mesa's llvmpipe, softpipe and swrast, its Vulkan lavapipe under zink, Chromium's and
    // Android's SwiftShader, and the fallbacks of Windows and macOS.
    static constexpr std::array<const char*, 9> rasterisers{
        "llvmpipe", "softpipe", "swrast", "lavapipe", "swiftshader", "software rasterizer",
        "software renderer", "basic render driver", "gdi generic"};
    for (const char* name : rasterisers)
        if (renderer->contains(QLatin1String(name), Qt::CaseInsensitive))
            return Compositing::Software;
    return Compositing::Gpu;
}

void settleCompositing(const QProcessEnvironment& environment)
{
    if (compositingSetByUser(environment))
        return;
    if (chooseCompositing(environment, openGlRenderer()) == Compositing::Software)
        compositeInSoftware();
}

}  // namespace pictarre
