#pragma once

namespace platform {

// Test hook: when the environment variable KELVANE_TEST_PAUSE_AT names `point`, the process
// stops itself (SIGSTOP) there, so that a test can kill it at exactly that step. Costs one
// environment lookup otherwise.
void pauseForTestsAt(const char* point);

}  // namespace platform
