#pragma once

#include <atomic>

namespace platform {

// The one seam style: every operating-system service is an abstract class reached through
// its `shared()` accessor, with one implementation per system (linux/ here). A test may put
// another implementation in its place for as long as a ScopedReplacement lives; the backend's
// accessor hands that out first. Set replacements before the threads that use the service
// start, and end them after those threads are done.
template <class Service>
class Replaceable {
  public:
    class ScopedReplacement {
      public:
        explicit ScopedReplacement(Service& replacement)
            : m_previous(s_replacement.exchange(&replacement)) {}
        ~ScopedReplacement() { s_replacement.store(m_previous); }
        ScopedReplacement(const ScopedReplacement&) = delete;
        ScopedReplacement& operator=(const ScopedReplacement&) = delete;

      private:
        Service* m_previous;
    };

  protected:
    // What the accessor hands out: the implementation a test put in place, else the backend.
    static Service& replacedOr(Service& backend) {
        Service* replaced = s_replacement.load();
        return replaced ? *replaced : backend;
    }
    // The same, for a backend whose making has effects: `make` runs only when no replacement
    // serves.
    template <class Make>
    static Service& replacedOrMade(Make make) {
        Service* replaced = s_replacement.load();
        return replaced ? *replaced : make();
    }

  private:
    static inline std::atomic<Service*> s_replacement{nullptr};
};

}  // namespace platform
