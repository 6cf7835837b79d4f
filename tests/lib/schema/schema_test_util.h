// Helpers shared by the schema tests: the description corpus, a readable
// rendering of every field of a record (records are equal when their
// renderings are), and RAII for the library's results.
#pragma once

#include <dirext.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "paths.h"

namespace schematest {

struct Description {
    int kind;
    std::string text;
};

inline int kind_of_attribute(const std::string &attribute)
{
    static const char *const names[] = {"attributeTypes", "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                        "matchingRuleUse", "nameForms",      "dITContentRules", "dITStructureRules"};
    for (int k = 0; k < 8; ++k)
        if (attribute == names[k]) return k;
    return -1;
}

// Lines "<subschema attribute>: <description>".
inline std::vector<Description> read_descriptions(const std::string &path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<Description> out;
    for (std::string line; std::getline(in, line);) {
        auto colon = line.find(": ");
        if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
        int kind = kind_of_attribute(line.substr(0, colon));
        if (kind < 0) throw std::runtime_error("bad corpus line: " + line);
        out.push_back({kind, line.substr(colon + 2)});
    }
    return out;
}

inline std::vector<Description> corpus()
{
    return read_descriptions(testsupport::source_path("tests/lib/schema/data/descriptions.txt"));
}

inline std::string str(const char *s) { return s ? "'" + std::string(s) + "'" : "-"; }

inline std::string list(char *const *l)
{
    if (!l) return "-";
    std::string out = "[";
    for (char *const *s = l; *s; ++s) out += (s == l ? "" : ",") + std::string(*s);
    return out + "]";
}

inline std::string extensions(LDAPSchemaExtensionItem *const *e)
{
    if (!e) return "-";
    std::string out = "{";
    for (; *e; ++e) out += str((*e)->lsei_name) + "=" + list((*e)->lsei_values) + ";";
    return out + "}";
}

// Every field of a record of the kind (a record of libldap's or this
// library's: the first six kinds share their structures).
inline std::string render(int kind, const void *record)
{
    if (!record) return "(null)";
    auto num = [](int v) { return std::to_string(v); };
    switch (kind) {
    case LDAP_SCHEMA_ATTRIBUTE_TYPE: {
        auto *r = static_cast<const LDAPAttributeType *>(record);
        return "oid=" + str(r->at_oid) + " names=" + list(r->at_names) + " desc=" + str(r->at_desc) +
               " obsolete=" + num(r->at_obsolete) + " sup=" + str(r->at_sup_oid) + " eq=" + str(r->at_equality_oid) +
               " ord=" + str(r->at_ordering_oid) + " sub=" + str(r->at_substr_oid) + " syntax=" +
               str(r->at_syntax_oid) + "{" + num(r->at_syntax_len) + "} single=" + num(r->at_single_value) +
               " collective=" + num(r->at_collective) + " nousermod=" + num(r->at_no_user_mod) +
               " usage=" + num(r->at_usage) + " ext=" + extensions(r->at_extensions);
    }
    case LDAP_SCHEMA_OBJECT_CLASS: {
        auto *r = static_cast<const LDAPObjectClass *>(record);
        return "oid=" + str(r->oc_oid) + " names=" + list(r->oc_names) + " desc=" + str(r->oc_desc) +
               " obsolete=" + num(r->oc_obsolete) + " sup=" + list(r->oc_sup_oids) + " kind=" + num(r->oc_kind) +
               " must=" + list(r->oc_at_oids_must) + " may=" + list(r->oc_at_oids_may) +
               " ext=" + extensions(r->oc_extensions);
    }
    case LDAP_SCHEMA_SYNTAX: {
        auto *r = static_cast<const LDAPSyntax *>(record);
        return "oid=" + str(r->syn_oid) + " names=" + list(r->syn_names) + " desc=" + str(r->syn_desc) +
               " ext=" + extensions(r->syn_extensions);
    }
    case LDAP_SCHEMA_MATCHING_RULE: {
        auto *r = static_cast<const LDAPMatchingRule *>(record);
        return "oid=" + str(r->mr_oid) + " names=" + list(r->mr_names) + " desc=" + str(r->mr_desc) +
               " obsolete=" + num(r->mr_obsolete) + " syntax=" + str(r->mr_syntax_oid) +
               " ext=" + extensions(r->mr_extensions);
    }
    case LDAP_SCHEMA_MATCHING_RULE_USE: {
        auto *r = static_cast<const LDAPMatchingRuleUse *>(record);
        return "oid=" + str(r->mru_oid) + " names=" + list(r->mru_names) + " desc=" + str(r->mru_desc) +
               " obsolete=" + num(r->mru_obsolete) + " applies=" + list(r->mru_applies_oids) +
               " ext=" + extensions(r->mru_extensions);
    }
    case LDAP_SCHEMA_NAME_FORM: {
        auto *r = static_cast<const LDAPNameForm *>(record);
        return "oid=" + str(r->nf_oid) + " names=" + list(r->nf_names) + " desc=" + str(r->nf_desc) +
               " obsolete=" + num(r->nf_obsolete) + " oc=" + str(r->nf_objectclass) +
               " must=" + list(r->nf_at_oids_must) + " may=" + list(r->nf_at_oids_may) +
               " ext=" + extensions(r->nf_extensions);
    }
    case LDAP_SCHEMA_DIT_CONTENT_RULE: {
        auto *r = static_cast<const LDAPDITContentRule *>(record);
        return "oid=" + str(r->dcr_oid) + " names=" + list(r->dcr_names) + " desc=" + str(r->dcr_desc) +
               " obsolete=" + num(r->dcr_obsolete) + " aux=" + list(r->dcr_aux_oids) +
               " must=" + list(r->dcr_at_oids_must) + " may=" + list(r->dcr_at_oids_may) +
               " not=" + list(r->dcr_at_oids_not) + " ext=" + extensions(r->dcr_extensions);
    }
    case LDAP_SCHEMA_DIT_STRUCTURE_RULE: {
        auto *r = static_cast<const LDAPDITStructureRule *>(record);
        return "ruleid=" + str(r->dsr_ruleid) + " names=" + list(r->dsr_names) + " desc=" + str(r->dsr_desc) +
               " obsolete=" + num(r->dsr_obsolete) + " form=" + str(r->dsr_nameform) +
               " sup=" + list(r->dsr_sup_ruleids) + " ext=" + extensions(r->dsr_extensions);
    }
    }
    return "(bad kind)";
}

// The library's parser, printer and free function of a kind, by number.
inline void *parse(int kind, const char *text, int *code, const char **errp, unsigned flags)
{
    switch (kind) {
    case 0: return ldap_str2attributetype(text, code, errp, flags);
    case 1: return ldap_str2objectclass(text, code, errp, flags);
    case 2: return ldap_str2syntax(text, code, errp, flags);
    case 3: return ldap_str2matchingrule(text, code, errp, flags);
    case 4: return ldap_str2matchingruleuse(text, code, errp, flags);
    case 5: return ldap_str2nameform(text, code, errp, flags);
    case 6: return ldap_str2ditcontentrule(text, code, errp, flags);
    case 7: return ldap_str2ditstructurerule(text, code, errp, flags);
    }
    return nullptr;
}

inline char *print(int kind, void *record)
{
    switch (kind) {
    case 0: return ldap_attributetype2str(static_cast<LDAPAttributeType *>(record));
    case 1: return ldap_objectclass2str(static_cast<LDAPObjectClass *>(record));
    case 2: return ldap_syntax2str(static_cast<LDAPSyntax *>(record));
    case 3: return ldap_matchingrule2str(static_cast<LDAPMatchingRule *>(record));
    case 4: return ldap_matchingruleuse2str(static_cast<LDAPMatchingRuleUse *>(record));
    case 5: return ldap_nameform2str(static_cast<LDAPNameForm *>(record));
    case 6: return ldap_ditcontentrule2str(static_cast<LDAPDITContentRule *>(record));
    case 7: return ldap_ditstructurerule2str(static_cast<LDAPDITStructureRule *>(record));
    }
    return nullptr;
}

inline void release(int kind, void *record)
{
    switch (kind) {
    case 0: ldap_attributetype_free(static_cast<LDAPAttributeType *>(record)); break;
    case 1: ldap_objectclass_free(static_cast<LDAPObjectClass *>(record)); break;
    case 2: ldap_syntax_free(static_cast<LDAPSyntax *>(record)); break;
    case 3: ldap_matchingrule_free(static_cast<LDAPMatchingRule *>(record)); break;
    case 4: ldap_matchingruleuse_free(static_cast<LDAPMatchingRuleUse *>(record)); break;
    case 5: ldap_nameform_free(static_cast<LDAPNameForm *>(record)); break;
    case 6: ldap_ditcontentrule_free(static_cast<LDAPDITContentRule *>(record)); break;
    case 7: ldap_ditstructurerule_free(static_cast<LDAPDITStructureRule *>(record)); break;
    }
}

// A parsed record that releases itself.
class Record {
public:
    Record(int kind, const std::string &text, unsigned flags = 0) : kind_(kind)
    {
        record_ = parse(kind, text.c_str(), &code_, &errp_, flags);
        offset_ = errp_ ? errp_ - text.c_str() : -1;
    }
    ~Record() { release(kind_, record_); }
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;

    explicit operator bool() const { return record_ != nullptr; }
    template <class T = void>
    T *get() const { return static_cast<T *>(record_); }
    int code() const { return code_; }
    long offset() const { return offset_; }  // of errp in the text
    std::string rendered() const { return render(kind_, record_); }
    std::string printed() const
    {
        char *s = print(kind_, record_);
        std::string out = s ? s : "(null)";
        ldap_memfree(s);
        return out;
    }

private:
    int kind_;
    void *record_ = nullptr;
    int code_ = -1;
    const char *errp_ = nullptr;
    long offset_ = -1;
};

struct ValuesFree {
    void operator()(char **v) const { ldap_value_free(v); }
};
using Values = std::unique_ptr<char *, ValuesFree>;

inline std::vector<std::string> strings(char **v)
{
    std::vector<std::string> out;
    for (; v && *v; ++v) out.emplace_back(*v);
    return out;
}

}  // namespace schematest
