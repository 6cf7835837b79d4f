// Identity, effective privileges and name conversion.
//
// Effective privileges here are a small fixed model: the bound identity has
// every right (0x3f), an entry over its own attributes compare, read and
// write (0x07), anybody else compare and read (0x03).  Native names are
// 16-bit units, big-endian, zero-terminated, in the dotted typed form
// "CN=admin.O=lab" (a "\." is a dot inside a value).
#include <ldap.h>

#include <cctype>

#include "management.h"

namespace dirsim::detail::management {
namespace {

Answer bind_dn(Exchange &ex, const std::optional<std::string> &value)
{
    if (value) return malformed();
    Answer a;
    a.value = Writer().put("s", ex.session().bound_dn.c_str()).bytes();
    return a;
}

int rights(Exchange &ex, const std::string &entry_ndn, const std::string &identity)
{
    auto who = normalize_dn(identity);
    auto bound = normalize_dn(ex.session().bound_dn);
    if (who && bound && !bound->empty() && *who == *bound) return 0x3f;
    if (who && *who == entry_ndn) return 0x07;
    return 0x03;
}

// entry DN, identity DN, then one attribute name (or a SEQUENCE of them).
Answer privileges(Exchange &ex, const std::optional<std::string> &value, bool list)
{
    Fields f(value);
    std::string entry_dn, identity, attribute;
    berval names{};
    if (!f.string(entry_dn) || !f.string(identity) || !(list ? f.sequence(names) : f.string(attribute)) || !f.end())
        return malformed();
    int count = 0;
    if (list) {
        Reader r(names);
        for (std::string name; !r.at_end(); ++count)
            if (!r.string(LBER_OCTETSTRING, name)) return malformed();
    }
    return ex.tree().read([&](const EntryMap &entries) {
        Located entry = locate(entries, entry_dn);
        if (entry.failure) return *entry.failure;
        int granted = rights(ex, entry.ndn, identity);
        Answer a;
        if (!list) {
            a.value = Writer().put("i", granted).bytes();
            return a;
        }
        Writer w;
        w.put("{{i}[", count);
        for (int i = 0; i < count; ++i) w.put("{i}", granted);
        a.value = w.put("]}").bytes();
        return a;
    });
}

void put_utf8(std::string &out, unsigned unit)
{
    if (unit < 0x80) {
        out += char(unit);
    } else if (unit < 0x800) {
        out += char(0xc0 | unit >> 6);
        out += char(0x80 | (unit & 0x3f));
    } else {
        out += char(0xe0 | unit >> 12);
        out += char(0x80 | (unit >> 6 & 0x3f));
        out += char(0x80 | (unit & 0x3f));
    }
}

Answer native_to_ldap(Exchange &, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string units;
    if (!f.string(units) || !f.end() || units.size() < 2 || units.size() % 2) return malformed();
    std::string dn;
    bool escaped = false;
    for (size_t i = 0; i + 2 < units.size(); i += 2) {
        unsigned unit = unsigned((unsigned char)units[i]) << 8 | (unsigned char)units[i + 1];
        if (unit == 0) return malformed();  // the terminator comes last
        if (escaped) {
            put_utf8(dn, unit);
            escaped = false;
        } else if (unit == '\\') {
            escaped = true;
        } else {
            put_utf8(dn, unit == '.' ? ',' : unit);
        }
    }
    if (units[units.size() - 2] || units[units.size() - 1]) return malformed();
    if (dn.empty() || !normalize_dn(dn)) return error(LDAP_INVALID_DN_SYNTAX, "not a typed name");
    Answer a;
    a.value = Writer().put("s", dn.c_str()).bytes();
    return a;
}

// "lab.example.com" -> "dc=lab,dc=example,dc=com"
Answer dns_to_x500(Exchange &, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string name;
    if (!f.string(name) || !f.end()) return malformed();
    std::string dn;
    size_t at = 0;
    while (at <= name.size()) {
        size_t dot = name.find('.', at);
        if (dot == std::string::npos) dot = name.size();
        std::string label = name.substr(at, dot - at);
        bool ok = !label.empty();
        for (char c : label)
            ok = ok && (std::isalnum((unsigned char)c) || c == '-');
        if (!ok) return error(LDAP_INVALID_DN_SYNTAX, "not a DNS name");
        dn += (dn.empty() ? "dc=" : ",dc=") + label;
        at = dot + 1;
    }
    Answer a;
    a.value = Writer().put("s", dn.c_str()).bytes();
    return a;
}

const Registrar registrar([] {
    serve(31, bind_dn);
    serve(33, [](Exchange &ex, const std::optional<std::string> &v) { return privileges(ex, v, false); });
    serve(103, [](Exchange &ex, const std::optional<std::string> &v) { return privileges(ex, v, true); });
    serve(1, native_to_ldap);
    serve(101, dns_to_x500);
});

}  // namespace
}  // namespace dirsim::detail::management
