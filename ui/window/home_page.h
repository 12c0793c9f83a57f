#pragma once

#include <QString>

namespace orlenta {

// The maker's home page, opened in about one start in a hundred. Set when building
// (the ORLENTA_HOME_PAGE cache variable of the top CMakeLists.txt).
QString HomePageAddress();

}  // namespace orlenta
