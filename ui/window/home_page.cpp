#include "ui/window/home_page.h"

namespace orlenta {

QString HomePageAddress() {
    return QStringLiteral(ORLENTA_HOME_PAGE);
}

}  // namespace orlenta
