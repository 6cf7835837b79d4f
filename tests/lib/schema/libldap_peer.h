// libldap's own description functions, reached in libldap itself with
// dlsym (the program's bindings of those names are the library's), for tests
// that compare the library's parsers and printers with libldap's.
#pragma once

#include <dlfcn.h>

#include <string>

#include "schema_test_util.h"

namespace schematest {

// libldap's own definitions, found in libldap itself rather than through the
// program's (the library's) bindings.
inline void *libldap_symbol(const char *name)
{
    static void *handle = dlopen(DIREXT_LIBLDAP_PATH, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return nullptr;
    return dlsym(handle, name);
}

template <class F>
F *libldap(const char *name)
{
    return reinterpret_cast<F *>(libldap_symbol(name));
}

using Str2 = void *(const char *, int *, const char **, unsigned);
using ToStr = char *(void *);
using Free = void(void *);

struct Names {
    const char *str2, *to_str, *free;
};
// libldap's functions for kinds 0 to 6 (its content rule stands in for ours).
inline const Names kLibldap[] = {
    {"ldap_str2attributetype", "ldap_attributetype2str", "ldap_attributetype_free"},
    {"ldap_str2objectclass", "ldap_objectclass2str", "ldap_objectclass_free"},
    {"ldap_str2syntax", "ldap_syntax2str", "ldap_syntax_free"},
    {"ldap_str2matchingrule", "ldap_matchingrule2str", "ldap_matchingrule_free"},
    {"ldap_str2matchingruleuse", "ldap_matchingruleuse2str", "ldap_matchingruleuse_free"},
    {"ldap_str2nameform", "ldap_nameform2str", "ldap_nameform_free"},
    {"ldap_str2contentrule", "ldap_contentrule2str", "ldap_contentrule_free"},
};

// A libldap record that releases itself with libldap's free function.
class Theirs {
public:
    Theirs(int kind, const std::string &text, unsigned flags = 0) : kind_(kind)
    {
        int code = 0;
        const char *errp = nullptr;
        record_ = libldap<Str2>(kLibldap[kind].str2)(text.c_str(), &code, &errp, flags);
        code_ = code;
    }
    ~Theirs()
    {
        if (record_) libldap<Free>(kLibldap[kind_].free)(record_);
    }
    Theirs(const Theirs &) = delete;
    Theirs &operator=(const Theirs &) = delete;
    explicit operator bool() const { return record_ != nullptr; }
    void *get() const { return record_; }
    void *release()
    {
        void *r = record_;
        record_ = nullptr;
        return r;
    }
    int code() const { return code_; }

private:
    int kind_;
    void *record_ = nullptr;
    int code_ = -1;
};

// libldap's content rule, rendered like the library's DIT content rule.
inline std::string render_content_rule(const LDAPContentRule *r)
{
    using namespace schematest;
    return "oid=" + str(r->cr_oid) + " names=" + list(r->cr_names) + " desc=" + str(r->cr_desc) +
           " obsolete=" + std::to_string(r->cr_obsolete) + " aux=" + list(r->cr_oc_oids_aux) +
           " must=" + list(r->cr_at_oids_must) + " may=" + list(r->cr_at_oids_may) +
           " not=" + list(r->cr_at_oids_not) + " ext=" + extensions(r->cr_extensions);
}

inline std::string render_theirs(int kind, const void *record)
{
    if (!record) return "(null)";
    if (kind == LDAP_SCHEMA_DIT_CONTENT_RULE) return render_content_rule(static_cast<const LDAPContentRule *>(record));
    return schematest::render(kind, record);
}

}  // namespace schematest
