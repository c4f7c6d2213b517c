// Errors of the table engine as values. Every failure names the file it concerns and, for
// decoding failures, the byte offset where the bad data was found, so the message a user sees
// says where to look.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

namespace albumora::store {

enum class ErrorKind {
    None,
    NotFound,         // a file, field, tag or key that is not there
    IoError,          // the operating system refused a read, write, sync or rename
    Corruption,       // a file's bytes break the format
    InvalidArgument,  // the caller asked for something impossible (bad field list, bad value)
    Locked,           // another process or cursor holds the table
    IndexStale,       // the index file lags behind the table and must be rebuilt
    Expression,       // an expression failed to compile or evaluate
    Unsupported,      // a valid file feature this engine does not handle
};

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(ErrorKind kind, QString message, QString file = {}, std::int64_t offset = -1)
        : kind_(kind), message_(std::move(message)), file_(std::move(file)), offset_(offset) {}

    static Status ok() { return {}; }

    bool isOk() const { return kind_ == ErrorKind::None; }
    explicit operator bool() const { return isOk(); }
    ErrorKind kind() const { return kind_; }
    const QString& message() const { return message_; }
    const QString& file() const { return file_; }
    std::int64_t offset() const { return offset_; }

    // The text shown to a user: the message, the file and the offset where they are known.
    QString text() const {
        if (isOk()) return QStringLiteral("OK");
        QString t = message_;
        if (!file_.isEmpty() && !t.contains(file_)) t += QStringLiteral(" (") + file_ + QLatin1Char(')');
        if (offset_ >= 0) t += QStringLiteral(" at byte ") + QString::number(offset_);
        return t;
    }

private:
    ErrorKind kind_ = ErrorKind::None;
    QString message_;
    QString file_;
    std::int64_t offset_ = -1;
};

// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Status error) : v_(std::move(error)) {}

    bool isOk() const { return std::holds_alternative<T>(v_); }
    explicit operator bool() const { return isOk(); }
    T& value() & { return std::get<T>(v_); }
    const T& value() const& { return std::get<T>(v_); }
    T&& value() && { return std::get<T>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    Status status() const { return isOk() ? Status() : std::get<Status>(v_); }
    const Status& error() const { return std::get<Status>(v_); }

private:
    std::variant<T, Status> v_;
};

}  // namespace albumora::store

// Early return on error, the way the engine propagates failures up the call chain.
#define ALB_TRY(expr)                                           \
    do {                                                        \
        ::albumora::store::Status alb_status_ = (expr);         \
        if (!alb_status_.isOk()) return alb_status_;            \
    } while (0)

#define ALB_CONCAT_INNER(a, b) a##b
#define ALB_CONCAT(a, b) ALB_CONCAT_INNER(a, b)
#define ALB_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
    auto tmp = (expr);                            \
    if (!tmp.isOk()) return tmp.error();          \
    lhs = std::move(tmp).value()
#define ALB_ASSIGN_OR_RETURN(lhs, expr) ALB_ASSIGN_OR_RETURN_IMPL(ALB_CONCAT(alb_result_, __LINE__), lhs, expr)
