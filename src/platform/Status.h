#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

// Outcome of an operating-system call: success, or a description of what failed.
// Failures travel as values so no error ever escapes an operation as an exception.
class [[nodiscard]] Status {
  public:
    static Status ok() { return Status(); }
    static Status failure(std::string description) { return Status(std::move(description)); }

    bool isOk() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const std::string& errorDescription() const { return m_error; }

  private:
    Status() = default;
    explicit Status(std::string description) : m_ok(false), m_error(std::move(description)) {}

    bool m_ok = true;
    std::string m_error;
};

// The failure half of a Result: why there is no value.
struct Failure {
    std::string description;
};
inline Failure unexpected(std::string description) {
    return Failure{std::move(description)};
}

// A value, or the description of why there is none; with Status, the one way failures travel
// below the logged operations. The subset of std::expected this code uses: that type is not
// available to every compiler the project builds with (clang 14 with this standard library).
template <class T>
class [[nodiscard]] Result {
  public:
    // From anything a T can be made of, as std::expected allows.
    template <class U = T, class = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                                    !std::is_same_v<std::decay_t<U>, Failure> &&
                                                    !std::is_same_v<std::decay_t<U>, Result>>>
    Result(U&& value) : m_value(std::in_place, std::forward<U>(value)) {}
    Result(Failure failure) : m_error(std::move(failure.description)) {}

    bool has_value() const { return m_value.has_value(); }
    explicit operator bool() const { return has_value(); }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    template <class U>
    T value_or(U&& fallback) const {
        return m_value ? *m_value : static_cast<T>(std::forward<U>(fallback));
    }
    // Why there is no value; empty when there is one.
    const std::string& error() const { return m_error; }

    template <class U>
    friend bool operator==(const Result& result, const U& value) {
        return result.m_value && *result.m_value == value;
    }

  private:
    std::optional<T> m_value;
    std::string m_error;
};

}  // namespace platform
