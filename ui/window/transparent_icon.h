#pragma once

#include <QIcon>
#include <QSize>

namespace orlenta {

// The window's icon and the buttons' picture: 32x32 pixels, every one fully transparent, so
// that no icon shows in the title bar and nothing shows on the buttons.
inline constexpr QSize TransparentIconSize{32, 32};

QIcon TransparentIcon();

}  // namespace orlenta
