#include "core/error.h"

OrvantoError::OrvantoError(const QString& message) : std::runtime_error(message.toStdString()) {}

OrvantoError OrvantoError::Failure(const QString& operation, const QString& path,
                                   const QString& reason) {
    return OrvantoError(operation + " " + path + ": " + reason);
}

QString OrvantoError::Message() const {
    return QString::fromUtf8(what());
}

QString ExceptionMessage(const std::exception& error) {
    return QString::fromUtf8(error.what());
}
