// A value or the exact user-facing message of why there is none.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qv {

struct Failure {
    std::string message;
};

template <class T>
class Result {
public:
    Result(T value)
        : m_state(std::move(value))
    {
    }
    Result(Failure failure)
        : m_state(std::move(failure))
    {
    }

    static Result failure(std::string message) { return Result(Failure { std::move(message) }); }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_state); }
    T& value() { return std::get<T>(m_state); }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }
    const std::string& error() const { return std::get<Failure>(m_state).message; }

private:
    std::variant<T, Failure> m_state;
};

// Success without a value.
struct Done { };

} // namespace qv
