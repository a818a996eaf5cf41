#pragma once

#include <string>
#include <utility>

namespace platform {

// Outcome of an operating-system call: success, or a description of what failed.
// Failures travel as values so no error ever escapes an operation as an exception.
class Status {
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

}  // namespace platform
