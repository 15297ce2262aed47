#pragma once

#include <QString>
#include <exception>
#include <string>

namespace qevra {

// Base of the program's own exceptions: a message for the error box.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : message_(std::move(message))
        , utf8_(message_.toStdString())
    {
    }
    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};

// The silent abort: the event loop swallows it without a word.
class EAbort : public Exception {
public:
    EAbort()
        : Exception(QStringLiteral("Operation aborted"))
    {
    }
};

// A file that could not be opened or measured; `code` is the errno value.
class EInOutError : public Exception {
public:
    explicit EInOutError(int code)
        : Exception(QStringLiteral("I/O error %1").arg(code))
        , code_(code)
    {
    }
    int code() const noexcept { return code_; }

private:
    int code_;
};

// Ends the running command silently.
[[noreturn]] inline void Abort()
{
    throw EAbort();
}

} // namespace qevra
