// White-box helpers for the schema model tests: schemas built from
// description texts without a server, field lists for edits, and failures
// through the library's allocation hook (which every allocation of the
// schema utility asks).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "alloc_failures.h"
#include "schema/subschema.h"
#include "schema_test_util.h"

namespace schematest {

struct SchemaFree {
    void operator()(LDAPSubschema *s) const { dirext::schema_util::destroy_schema(s); }
};
using Schema = std::unique_ptr<LDAPSubschema, SchemaFree>;

using Attributes = std::vector<std::pair<std::string, std::vector<std::string>>>;

// A schema loaded from subschema attribute values as a fetch loads them; rc
// receives the loading result (the schema is returned only on success).
inline Schema build(const Attributes &attributes, int *rc = nullptr)
{
    using namespace dirext::schema_util;
    Schema schema(new_schema());
    if (!schema) {
        if (rc) *rc = LDAP_NO_MEMORY;
        return nullptr;
    }
    for (const auto &[name, values] : attributes) {
        std::vector<berval> bvs;
        for (const auto &v : values) bvs.push_back({v.size(), const_cast<char *>(v.c_str())});
        std::vector<const berval *> ptrs;
        for (auto &bv : bvs) ptrs.push_back(&bv);
        ptrs.push_back(nullptr);
        int r = load_attribute(schema.get(), name.c_str(), ptrs.data());
        if (r != LDAP_SUCCESS) {
            if (rc) *rc = r;
            return nullptr;
        }
    }
    finish_load(schema.get());
    if (rc) *rc = LDAP_SUCCESS;
    return schema;
}

// The example schema most model tests use.
inline const Attributes &example()
{
    static const Attributes attributes = {
        {"attributeTypes",
         {"( 2.5.4.41 NAME 'name' EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
          "( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )",
          "( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )",
          "( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) EQUALITY caseIgnoreIA5Match "
          "SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )",
          "( 1.3.6.1.4.1.32473.1.2 NAME ( 'labCode' 'labIdentifier' 'labId' ) DESC 'three names' "
          "X-ORIGIN 'test' X-NOTE ( 'a' 'b' ) )",
          "( 1.3.6.1.4.1.32473.1.9 )",
          "( 2.5.18.1 NAME 'createTimestamp' EQUALITY generalizedTimeMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 "
          "SINGLE-VALUE NO-USER-MODIFICATION USAGE directoryOperation )",
          "( 1.2.3 name 'dropped' )"}},
        {"objectClasses",
         {"( 2.5.6.0 NAME 'top' ABSTRACT MUST objectClass )",
          "( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST cn MAY ( sn $ mail ) )",
          "( 1.3.6.1.4.1.32473.2.1 NAME 'labServer' OBSOLETE AUXILIARY MUST cn )", "( bogus"}},
        {"ldapSyntaxes", {"( 1.3.6.1.4.1.1466.115.121.1.15 DESC 'Directory String' )"}},
        {"matchingRules", {"( 2.5.13.2 NAME 'caseIgnoreMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )"}},
        {"matchingRuleUse", {"( 2.5.13.2 NAME 'caseIgnoreMatch' APPLIES ( cn $ sn ) )"}},
        {"nameForms", {"( 1.3.6.1.4.1.32473.5.1 NAME 'labServerNameForm' OC labServer MUST cn MAY ou X-ORIGIN 'test' )"}},
        {"dITContentRules", {"( 2.5.6.6 NAME 'personContent' AUX labServer MUST mail MAY description NOT userPassword )"}},
        {"dITStructureRules",
         {"( 2 NAME 'personRule' FORM labServerNameForm SUP 1 )", "( 1 NAME 'topRule' FORM labServerNameForm )",
          "( 10 NAME 'tenRule' FORM labServerNameForm SUP ( 1 2 ) )"}},
        {"cn", {"Subschema"}},  // not a schema attribute: ignored
    };
    return attributes;
}

// One field change: operation, field name, values (none: a null list).
struct Mod {
    int op;
    std::string type;
    std::vector<std::string> values;
};

// A null-terminated LDAPMod list that owns its strings.
class Mods {
public:
    Mods(std::initializer_list<Mod> mods) : mods_(mods)
    {
        for (auto &m : mods_) {
            std::vector<char *> v;
            for (auto &s : m.values) v.push_back(s.data());
            v.push_back(nullptr);
            values_.push_back(std::move(v));
        }
        for (size_t i = 0; i < mods_.size(); ++i) {
            LDAPMod mod{};
            mod.mod_op = mods_[i].op;
            mod.mod_type = mods_[i].type.data();
            mod.mod_values = mods_[i].values.empty() ? nullptr : values_[i].data();
            records_.push_back(mod);
        }
        for (auto &r : records_) pointers_.push_back(&r);
        pointers_.push_back(nullptr);
    }
    LDAPMod **get() { return pointers_.data(); }

private:
    std::vector<Mod> mods_;
    std::vector<std::vector<char *>> values_;
    std::vector<LDAPMod> records_;
    std::vector<LDAPMod *> pointers_;
};

// The pending changes as "<op> <attribute>: <value>" lines.
inline std::vector<std::string> pending(const LDAPSubschema *schema)
{
    std::vector<std::string> out;
    for (int i = 0; i < schema->change_count; ++i) {
        const LDAPMod *m = schema->changes[i];
        std::string line = m->mod_op == LDAP_MOD_ADD ? "add " : m->mod_op == LDAP_MOD_DELETE ? "delete " : "replace ";
        line += std::string(m->mod_type) + ":";
        for (char **v = m->mod_values; v && *v; ++v) line += " " + std::string(*v);
        out.push_back(line);
    }
    if (schema->changes) {
        EXPECT_EQ(schema->changes[schema->change_count], nullptr);
    }
    return out;
}

inline LDAPSchemaElement *find(LDAPSubschema *schema, int kind, const char *key)
{
    LDAPSchemaElement *e = nullptr;
    return ldap_schema_get_by_name(schema, key, kind, &e) == LDAP_SUCCESS ? e : nullptr;
}

inline std::string printed(LDAPSchemaElement *e)
{
    char *text = nullptr;
    if (ldap_schema_element_to_string(e, &text, nullptr) != LDAP_SUCCESS) return "(not printed)";
    std::string out = text;
    ldap_memfree(text);
    return out;
}

inline std::vector<std::string> field(LDAPSchemaElement *e, const char *name, int *rc = nullptr)
{
    char **values = nullptr;
    int r = ldap_schema_get_field_values(e, name, &values);
    if (rc) *rc = r;
    std::vector<std::string> out = strings(values);
    ldap_value_free(values);
    return out;
}

inline std::vector<std::string> field_names(LDAPSchemaElement *e)
{
    char **names = nullptr;
    EXPECT_EQ(ldap_schema_get_field_names(e, &names), LDAP_SUCCESS);
    std::vector<std::string> out = strings(names);
    ldap_value_free(names);
    return out;
}

// Every key and name of every kind, with the element each finds: two schemas
// whose summaries are equal answer every lookup alike.
inline std::string summary(LDAPSubschema *schema)
{
    std::string out;
    for (int kind = 0; kind < 8; ++kind) {
        out += "kind " + std::to_string(kind) + ":";
        for (int i = 0; i < schema->element_count[kind]; ++i) out += " " + printed(schema->elements[kind][i]);
        out += " names:";
        for (int i = 0; i < schema->name_count[kind]; ++i) out += " " + std::string(schema->names[kind][i].name);
        out += "\n";
    }
    for (const auto &line : pending(schema)) out += line + "\n";
    return out;
}

// ---- allocation failures

// Runs attempt() with the 1st, 2nd, ... allocation failing until it runs
// without hitting the failure; check(failed) checks the outcome of each run.
inline void each_allocation_failure(const std::function<void()> &attempt, const std::function<void(bool)> &check)
{
    allocfail::Hooks hooks;
    for (long n = 1; n <= 100000; ++n) {
        allocfail::arm(n);
        attempt();
        const bool failed = allocfail::failed();
        allocfail::disarm();
        check(failed);
        if (!failed || ::testing::Test::HasFatalFailure()) return;
    }
    ADD_FAILURE() << "never ran without a failure";
}

}  // namespace schematest
