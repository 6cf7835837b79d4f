// A failure hook on the library's allocation seam (core/alloc.h, which also
// covers the liblber calls of core/ber_seam.h and the schema utility's
// allocator).  White-box: include it only in tests that link dirext_testing.
//
// Only allocations made on the thread that armed the hook count, so that an
// in-process simulator's threads can never trip it.
#pragma once

#include <cstddef>

#include "core/alloc.h"

namespace allocfail {

namespace detail {
struct State {
    bool armed = false;
    bool paused = false;
    long count = 0;    // allocations seen since arm()
    long fail_at = 0;  // the one that fails (1-based); 0: none
    bool failed = false;
};
inline thread_local State t_state;

inline bool hook(std::size_t)
{
    State &s = t_state;
    if (!s.armed || s.paused) return false;
    if (++s.count != s.fail_at) return false;
    s.failed = true;
    return true;
}
}  // namespace detail

// Installs the hook for its lifetime.
class Hooks {
public:
    Hooks()
    {
        dirext::set_alloc_fail_hook(detail::hook);
    }
    ~Hooks()
    {
        dirext::set_alloc_fail_hook(nullptr);
        detail::t_state = {};
    }
    Hooks(const Hooks &) = delete;
    Hooks &operator=(const Hooks &) = delete;
};

// From now on, on this thread, the nth allocation fails (0: none fails).
inline void arm(long nth) { detail::t_state = {true, false, 0, nth, false}; }
inline void disarm() { detail::t_state.armed = false; }
// Whether the armed failure happened, and how many allocations were seen.
inline bool failed() { return detail::t_state.failed; }
inline long seen() { return detail::t_state.count; }

// Neither counts nor fails allocations while it lives: for the set-up and
// clean-up around the call under test.
class Paused {
public:
    Paused() : was_(detail::t_state.paused) { detail::t_state.paused = true; }
    ~Paused() { detail::t_state.paused = was_; }
    Paused(const Paused &) = delete;
    Paused &operator=(const Paused &) = delete;

private:
    bool was_;
};

}  // namespace allocfail
