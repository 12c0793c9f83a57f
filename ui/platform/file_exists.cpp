#include "ui/platform/file_exists.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace orlenta {

bool FileExists(const QByteArray& path) noexcept {
    if (path.isEmpty() || path.contains('\0')) {
        return false;
    }
    try {
        std::error_code error;
        (void)std::filesystem::last_write_time(std::filesystem::path(path.toStdString()), error);
        return !error;
    } catch (...) {
        return false;
    }
}

bool FileExists(const QString& path) noexcept {
    // A NUL would cut the name short and make us ask about a different path.
    return !path.contains(QChar(0)) && FileExists(QFile::encodeName(path));
}

}  // namespace orlenta
