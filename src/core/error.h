#pragma once

#include <QString>
#include <stdexcept>

// The one exception type of the core: its message names what failed, on which path, and why.
class OrvantoError : public std::runtime_error {
public:
    explicit OrvantoError(const QString& message);

    // "<operation> <path>: <reason>", the form every failure of a file, process or query takes.
    static OrvantoError Failure(const QString& operation, const QString& path,
                                const QString& reason);

    QString Message() const;
};

// A path part with a character that no path may hold.
class InvalidArgumentError : public OrvantoError {
public:
    using OrvantoError::OrvantoError;
};

// The message of any exception as text for the person.
QString ExceptionMessage(const std::exception& error);
