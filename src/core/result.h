// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <utility>
#include <variant>

namespace quillbox {

/// An expected failure, as a value: what went wrong, where, and the underlying library's or OS's words.
struct Error {
    enum class Code { NotFound, Unreadable, NotAStore, WriteFailed, Invalid };
    Code code = Code::Invalid;
    QString path; ///< the file, folder or identifier concerned
    QString detail; ///< libpff, GMime or OS text, untranslated

    /// "path: detail" (or whichever of the two is set), for messages and debug output.
    QString describe() const
    {
        if (path.isEmpty())
            return detail;
        if (detail.isEmpty())
            return path;
        return path + QLatin1String(": ") + detail;
    }
};

/// A value or the Error that prevented it. Nothing is thrown across the core's interfaces.
template <class T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_v(std::move(value))
    {
    }
    Result(Error error)
        : m_v(std::move(error))
    {
    }

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

/// The outcome of an operation that gives no value.
using Status = Result<std::monostate>;
inline Status success()
{
    return Status(std::monostate {});
}

} // namespace quillbox
