#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

// Why an operation failed: a kind the caller can act on, from the small enum of the service
// that failed (HttpFailure, say), and a description for the log. A failure without a kind is
// one no caller tells apart from others.
class Failure {
  public:
    Failure() = default;
    explicit Failure(std::string text) : description(std::move(text)) {}
    template <class Kind, class = std::enable_if_t<std::is_enum_v<Kind>>>
    Failure(Kind kind, std::string text)
        : description(std::move(text)),
          m_service(&serviceTag<Kind>),
          m_code(static_cast<int>(kind)) {}

    // The kind, when the failure is one of `Kind`'s service.
    template <class Kind>
    std::optional<Kind> kind() const {
        if (m_service != &serviceTag<Kind>) return std::nullopt;
        return static_cast<Kind>(m_code);
    }
    template <class Kind>
    bool is(Kind kind) const {
        return this->kind<Kind>() == kind;
    }

    std::string description;

  private:
    // One address per kind enum, wherever it is used: which service's code `m_code` is.
    template <class Kind>
    static constexpr char serviceTag = 0;

    const char* m_service = nullptr;
    int m_code = 0;
};

inline Failure unexpected(std::string description) {
    return Failure(std::move(description));
}

// Outcome of an operating-system call: success, or why it failed.
// Failures travel as values so no error ever escapes an operation as an exception.
class [[nodiscard]] Status {
  public:
    static Status ok() { return Status(); }
    static Status failure(std::string description) {
        return Status(Failure(std::move(description)));
    }
    static Status failure(Failure why) { return Status(std::move(why)); }

    bool isOk() const { return !m_failure; }
    explicit operator bool() const { return isOk(); }
    // Empty on success.
    const std::string& errorDescription() const {
        static const std::string none;
        return m_failure ? m_failure->description : none;
    }
    // Why it failed; only on failure.
    const Failure& failure() const { return *m_failure; }

  private:
    Status() = default;
    explicit Status(Failure why) : m_failure(std::move(why)) {}

    std::optional<Failure> m_failure;
};

// A value, or why there is none; with Status, the one way failures travel below the logged
// operations. The subset of std::expected this code uses: that type is not available to every
// compiler the project builds with (clang 14 with this standard library).
template <class T>
class [[nodiscard]] Result {
  public:
    // From anything a T can be made of, as std::expected allows.
    template <class U = T, class = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                                    !std::is_same_v<std::decay_t<U>, Failure> &&
                                                    !std::is_same_v<std::decay_t<U>, Result>>>
    Result(U&& value) : m_value(std::in_place, std::forward<U>(value)) {}
    Result(Failure why) : m_failure(std::move(why)) {}

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
    const std::string& error() const { return m_failure.description; }
    const Failure& failure() const { return m_failure; }

    template <class U>
    friend bool operator==(const Result& result, const U& value) {
        return result.m_value && *result.m_value == value;
    }

  private:
    std::optional<T> m_value;
    Failure m_failure;
};

}  // namespace platform
