#include "results/result_writers.h"

#include "results/output_file.h"

#include <QFile>

#include <string_view>
#include <utility>

namespace orlenta {

namespace {

constexpr std::string_view LineEnd = "\r\n";

// Builds the bytes into `bytes`; false when the hook abandoned the comma-delimited line.
bool Format(const Addresses& addresses, ResultFormat format, const AddressHook& beforeAddress,
            std::string& bytes) {
    std::size_t addressBytes = 0;
    for (const std::string& address : addresses) {
        addressBytes += address.size();
    }
    ResultAppender appender(format);
    appender.reserve(addressBytes, addresses.size());
    for (const std::string& address : addresses) {
        if (format == ResultFormat::CommaDelimited && beforeAddress && !beforeAddress()) {
            return false;
        }
        appender.add(address);
    }
    bytes = appender.finish();
    return true;
}

void SetError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

void ResultAppender::reserve(std::size_t addressBytes, std::size_t count) {
    // Each address brings one separator (CR LF, or a comma); the line ends with CR LF.
    bytes_.reserve(bytes_.size() + addressBytes + count * LineEnd.size() + LineEnd.size());
}

void ResultAppender::add(std::string_view address) {
    if (format_ == ResultFormat::List) {
        bytes_ += address;
        bytes_ += LineEnd;
    } else {
        if (!empty_) {
            bytes_ += ',';
        }
        bytes_ += address;
    }
    empty_ = false;
}

std::string ResultAppender::finish() {
    if (format_ == ResultFormat::CommaDelimited) {
        bytes_ += LineEnd;
    }
    empty_ = true;
    return std::move(bytes_);
}

std::string FormatResults(const Addresses& addresses, ResultFormat format) {
    std::string bytes;
    Format(addresses, format, {}, bytes);
    return bytes;
}

bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    return SaveResults(QFile::encodeName(path), addresses, format, error, beforeAddress);
}

bool SaveResults(const QByteArray& path, const Addresses& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    std::string bytes;
    if (!Format(addresses, format, beforeAddress, bytes)) {
        SetError(error, QStringLiteral("The save was abandoned before anything was written."));
        return false;
    }
    return SaveFormatted(path, bytes, error);
}

bool SaveFormatted(const QByteArray& path, const std::string& bytes, QString* error) {
    OutputFile file;
    if (file.open(path.toStdString()) && file.write(bytes) && file.commit()) {
        return true;
    }
    SetError(error, QString::fromLocal8Bit(file.error()));
    return false;
}

}  // namespace orlenta
