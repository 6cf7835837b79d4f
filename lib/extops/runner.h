// The one synchronous runner every management operation goes through:
// encode the request fields, send them under the request OID, check the
// response name, decode the response value into the caller's outputs.
// Each operation supplies only its row (operations.h) and what differs: an
// encoder and a decoder when its format alone does not say it all.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

#include "extops/operations.h"

namespace dirext::extops {

// A non-owning reference to a callable, so that the runner itself is not a
// template.  The referenced callable must outlive the call.
template <typename Signature>
class FunctionRef;

template <typename R, typename... A>
class FunctionRef<R(A...)> {
public:
    FunctionRef() = default;
    FunctionRef(std::nullptr_t) {}
    template <typename F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F &, A...>)
    FunctionRef(F &&f)
        : object_(const_cast<void *>(static_cast<const void *>(std::addressof(f)))),
          call_([](void *object, A... args) -> R {
              return (*static_cast<std::remove_reference_t<F> *>(object))(std::forward<A>(args)...);
          })
    {
    }
    explicit operator bool() const { return call_ != nullptr; }
    R operator()(A... args) const { return call_(object_, std::forward<A>(args)...); }

private:
    void *object_ = nullptr;
    R (*call_)(void *, A...) = nullptr;
};

// Writes the request fields into a fresh encoder; returns LDAP_SUCCESS or the
// result of the call.
using Encoder = FunctionRef<int(BerElement *)>;
// Reads the response value into the caller's outputs; returns LDAP_SUCCESS or
// the result of the call.
using Decoder = FunctionRef<int(BerElement *)>;

// Runs one operation.  No encoder: the request carries no value.  No decoder:
// the operation has no outputs and a response value is not looked at.
int run(LDAP *ld, const Operation &op, Encoder encode, Decoder decode);

namespace detail {

static_assert(std::is_same_v<ber_int_t, int>, "'i' fields are ints");

constexpr bool is_structure(char c) { return c == '{' || c == '}' || c == '[' || c == ']'; }

// The format characters that take arguments, in order, must be `kinds`.
constexpr bool format_matches(const char *format, const char *kinds)
{
    if (!format) return false;
    for (; *format; ++format) {
        if (is_structure(*format)) continue;
        if (*format != *kinds++) return false;
    }
    return *kinds == '\0';
}

template <typename T>
constexpr char print_kind()
{
    if constexpr (std::is_same_v<T, int>) return 'i';
    else if constexpr (std::is_same_v<T, const char *>) return 's';
    else if constexpr (std::is_same_v<T, char **>) return 'v';
    else return '?';
}

template <typename T>
constexpr char scan_kind()
{
    if constexpr (std::is_same_v<T, int *>) return 'i';
    else if constexpr (std::is_same_v<T, char **>) return 'a';
    else if constexpr (std::is_same_v<T, char ***>) return 'v';
    else if constexpr (std::is_same_v<T, struct berval **>) return 'O';
    else return '?';
}

template <typename T>
bool is_null(T value)
{
    if constexpr (std::is_pointer_v<T>) return value == nullptr;
    else return false;
}

// Consumes the structure characters at `format`: enters the constructed
// element that "{" or "[" stands for, and skips "}" and "]" (which, as in
// liblber, check nothing).
bool enter_structure(BerElement *ber, const char *&format);
// Reads one element for the format character c after checking its tag:
// liblber itself would take an INTEGER out of any element.
bool read_element(BerElement *ber, char c, void *out);

}  // namespace detail

// Decodes elements with a format of 'i', 'a', 'v', 'O' and structure
// characters.  Outputs read before a failing element keep their values.
template <typename... Out>
bool scan_fields(BerElement *ber, const char *format, Out... out)
{
    bool ok = true;
    auto one = [&](void *target) {
        ok = ok && detail::enter_structure(ber, format) && detail::read_element(ber, *format++, target);
    };
    (one(static_cast<void *>(out)), ...);
    return ok && detail::enter_structure(ber, format);
}

// The operation's request format applied to `fields` (null strings refused).
template <Op op, typename... Fields>
int print(BerElement *ber, Fields... fields)
{
    constexpr char kinds[] = {detail::print_kind<Fields>()..., '\0'};
    static_assert(detail::format_matches(operation(op).request_format, kinds), "fields do not match the format");
    if ((detail::is_null(fields) || ...)) return LDAP_ENCODING_ERROR;
    return ber_printf(ber, operation(op).request_format, fields...) == -1 ? LDAP_ENCODING_ERROR : LDAP_SUCCESS;
}

// The operation's response format read into `out`.
template <Op op, typename... Out>
int scan(BerElement *ber, Out... out)
{
    constexpr char kinds[] = {detail::scan_kind<Out>()..., '\0'};
    static_assert(detail::format_matches(operation(op).response_format, kinds), "outputs do not match the format");
    return scan_fields(ber, operation(op).response_format, out...) ? LDAP_SUCCESS : operation(op).undecodable;
}

// An operation whose request value is its format applied to `fields`.
template <Op op, typename... Fields>
int call(LDAP *ld, Decoder decode, Fields... fields)
{
    return run(ld, operation(op), [&](BerElement *ber) { return print<op>(ber, fields...); }, decode);
}

// An operation whose request carries no value.
template <Op op>
int call_without_value(LDAP *ld, Decoder decode = nullptr)
{
    return run(ld, operation(op), nullptr, decode);
}

}  // namespace dirext::extops
