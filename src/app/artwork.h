#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace pictarre {

// The toolbar's image list: thirteen 16 x 16 images, 1-based, drawn on the light-grey mask
// colour (192, 192, 192), which is made transparent.
inline constexpr int kToolbarImageCount = 13;
QPixmap toolbarImage(int index);
// The key of an image of the list ("" for the one image without a key).
QString toolbarImageKey(int index);

// The window icon: a framed landscape picture, 32 x 32 (and 16 x 16).
QIcon programIcon();

}  // namespace pictarre
