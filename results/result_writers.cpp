#include "results/result_writers.h"

#include "results/address_writer.h"
#include "results/output_file.h"

#include <QFile>

namespace orlenta {

namespace {

void SetError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

bool SaveResults(const QString& path, const AddressSnapshot& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    return SaveResults(QFile::encodeName(path), addresses, format, error, beforeAddress);
}

bool SaveResults(const QByteArray& path, const AddressSnapshot& addresses, ResultFormat format,
                 QString* error, const AddressHook& beforeAddress) {
    if (format == ResultFormat::CommaDelimited && beforeAddress) {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (!beforeAddress()) {
                SetError(error,
                         QStringLiteral("The save was abandoned before anything was written."));
                return false;
            }
        }
    }
    OutputFile file;
    if (file.open(path.toStdString())) {
        AddressWriter writer(format, file);
        for (const std::string_view address : addresses) {
            writer.add(address);
        }
        if (writer.finish()) {
            return true;
        }
    }
    SetError(error, QString::fromLocal8Bit(file.error()));
    return false;
}

}  // namespace orlenta
