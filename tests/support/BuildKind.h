#pragma once

// Sanitizer builds run many times slower and keep shadow memory of their own: loads shrink
// there and memory figures say nothing.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
// Under ThreadSanitizer the web engine's collector can stop the main thread only while the
// sanitizer lets its signal through; with the engine's calls left uninstrumented (as they must
// be, for speed) a long run of garbage collections can hang the process, so heavy page loads
// shrink further there.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizedBuild = true;
#else
constexpr bool kThreadSanitizedBuild = false;
#endif
