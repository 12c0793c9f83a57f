#include "result_writers.h"

#include <QIODevice>
#include <QSaveFile>

#include <string_view>

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

// Builds the bytes into `bytes`; false when the hook abandoned the comma-delimited line.
bool Format(const Addresses& addresses, ResultFormat format, const AddressHook& beforeAddress,
            std::string& bytes) {
    bytes.clear();
    bytes.reserve(FormattedSize(addresses));
    if (format == ResultFormat::List) {
        for (const std::string& address : addresses) {
            bytes += address;
            bytes += LineEnd;
        }
        return true;
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (beforeAddress && !beforeAddress()) {
            return false;
        }
        if (i > 0) {
            bytes += ',';
        }
        bytes += addresses[i];
    }
    bytes += LineEnd;
    return true;
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

void SetError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

std::string FormatResults(const Addresses& addresses, ResultFormat format) {
    std::string bytes;
    Format(addresses, format, {}, bytes);
    return bytes;
}

bool WriteResults(QIODevice& device, const Addresses& addresses, ResultFormat format,
                  QString* error) {
    return WriteAll(device, FormatResults(addresses, format), error);
}

bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    std::string bytes;
    if (!Format(addresses, format, beforeAddress, bytes)) {
        SetError(error, QStringLiteral("The save was abandoned before anything was written."));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        SetError(error, file.errorString());
        return false;
    }
    if (!WriteAll(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        SetError(error, file.errorString());
        return false;
    }
    return true;
}

}  // namespace orlenta
