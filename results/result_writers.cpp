#include "result_writers.h"

#include <QIODevice>
#include <QSaveFile>

namespace orlenta {

namespace {

constexpr std::string_view LineEnd = "\r\n";

std::size_t FormattedSize(const Addresses& addresses) {
    std::size_t size = LineEnd.size();
    for (const std::string& address : addresses) {
        size += address.size() + LineEnd.size();
    }
    return size;
}

bool WriteAll(QIODevice& device, const std::string& bytes, QString* error) {
    const char* data = bytes.data();
    qint64 left = static_cast<qint64>(bytes.size());
    while (left > 0) {
        const qint64 written = device.write(data, left);
        if (written <= 0) {
            if (error != nullptr) {
                *error = device.errorString();
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace

std::string FormatResults(const Addresses& addresses, ResultFormat format,
                          const AddressHook& beforeAddress) {
    std::string bytes;
    bytes.reserve(FormattedSize(addresses));
    if (format == ResultFormat::List) {
        for (const std::string& address : addresses) {
            bytes += address;
            bytes += LineEnd;
        }
        return bytes;
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (beforeAddress) {
            beforeAddress();
        }
        if (i > 0) {
            bytes += ',';
        }
        bytes += addresses[i];
    }
    bytes += LineEnd;
    return bytes;
}

bool WriteResults(QIODevice& device, const Addresses& addresses, ResultFormat format,
                  QString* error) {
    return WriteAll(device, FormatResults(addresses, format), error);
}

bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    const std::string bytes = FormatResults(addresses, format, beforeAddress);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error != nullptr) {
            *error = file.errorString();
        }
        return false;
    }
    if (!WriteAll(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error != nullptr) {
            *error = file.errorString();
        }
        return false;
    }
    return true;
}

}  // namespace orlenta
