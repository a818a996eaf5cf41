#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "Product.h"
#include "TempHome.h"
#include "platform/Preferences.h"

// The preferences of a test's home in the shared store's place for as long as this lives, so
// code that reaches the process-wide store can run in the test's own process.
class PreferencesInHome {
  public:
    explicit PreferencesInHome(const TempHome& home)
        : m_store(platform::Preferences::atPath(home / path())), m_replacement(*m_store) {}

    // Where the store lives inside a home.
    static std::string path() {
        return std::string("Library/Preferences/") + Product::kApplicationId + ".plist";
    }

  private:
    std::unique_ptr<platform::Preferences> m_store;
    platform::Preferences::ScopedReplacement m_replacement;
};

// What `body` printed on the standard output and error, in that order.
inline std::string printedBy(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    body();
    std::fflush(nullptr);
    std::string output = testing::internal::GetCapturedStdout();
    return output + testing::internal::GetCapturedStderr();
}
