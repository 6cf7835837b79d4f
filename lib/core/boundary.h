// Nothing may unwind into a C caller: every exported function whose body can
// throw runs it through guard, which turns an exception into a result code.
#pragma once

#include <new>
#include <type_traits>

namespace dirext {

// Runs fn; std::bad_alloc gives no_memory and any other exception failure.
template <typename Fn>
std::invoke_result_t<Fn &> guard(std::invoke_result_t<Fn &> no_memory, std::invoke_result_t<Fn &> failure,
                                 Fn &&fn) noexcept
{
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return no_memory;
    } catch (...) {
        return failure;
    }
}

// Runs fn; any exception gives failure.
template <typename Fn>
std::invoke_result_t<Fn &> guard(std::invoke_result_t<Fn &> failure, Fn &&fn) noexcept
{
    return guard(failure, failure, static_cast<Fn &&>(fn));
}

}  // namespace dirext
