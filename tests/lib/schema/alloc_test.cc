// Memory exhaustion: every allocation of every operation is made to fail in
// turn; the operation reports it, releases what it had (the sanitizer build
// checks), and an edit leaves the model as it was.
#include "model_fixture.h"

namespace {

using namespace schematest;

TEST(SchemaAllocation, Parsers)
{
    for (const auto &d : corpus()) {
        void *record = nullptr;
        int code = -1;
        each_allocation_failure(
            [&] {
                const char *errp = nullptr;
                record = parse(d.kind, d.text.c_str(), &code, &errp, 15);
            },
            [&](bool failed) {
                if (failed) {
                    EXPECT_EQ(record, nullptr) << d.text;
                    EXPECT_EQ(code, 1) << d.text;
                } else {
                    EXPECT_NE(record, nullptr) << d.text;
                }
                release(d.kind, record);
            });
    }
}

TEST(SchemaAllocation, PrintersAndCopies)
{
    for (const auto &d : corpus()) {
        Record record(d.kind, d.text);
        ASSERT_TRUE(record);
        std::string expected = record.printed();
        char *text = nullptr;
        each_allocation_failure([&] { text = print(d.kind, record.get()); },
                                [&](bool failed) {
                                    if (failed) {
                                        EXPECT_EQ(text, nullptr);
                                    } else {
                                        EXPECT_EQ(std::string(text ? text : "(null)"), expected);
                                    }
                                    ldap_memfree(text);
                                });
        LDAPSchemaElement element{d.kind, record.get()};
        LDAPSchemaElement *copy = nullptr;
        each_allocation_failure([&] { copy = dirext::schema_util::dup_element(&element); },
                                [&](bool failed) {
                                    if (failed) {
                                        EXPECT_EQ(copy, nullptr);
                                    } else {
                                        EXPECT_EQ(render(d.kind, copy->description), record.rendered());
                                    }
                                    dirext::schema_util::free_element(copy);
                                });
    }
}

TEST(SchemaAllocation, Loading)
{
    Attributes all = example();
    Attributes more;
    for (const auto &d : corpus()) {
        static const char *const names[] = {"attributeTypes", "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                            "matchingRuleUse", "nameForms",      "dITContentRules", "dITStructureRules"};
        if (d.kind == LDAP_SCHEMA_DIT_STRUCTURE_RULE) continue;  // the example has rule IDs of its own
        more.push_back({names[d.kind], {d.text}});
    }
    all.insert(all.end(), more.begin(), more.end());
    Schema schema;
    int rc = 0;
    each_allocation_failure([&] { schema = build(all, &rc); },
                            [&](bool failed) {
                                if (failed) {
                                    EXPECT_FALSE(schema);
                                    EXPECT_EQ(rc, LDAP_NO_MEMORY);
                                } else {
                                    EXPECT_TRUE(schema);
                                }
                                schema.reset();
                            });
}

TEST(SchemaAllocation, FieldsAndText)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    for (int kind = 0; kind < 8; ++kind) {
        for (int i = 0; i < schema->element_count[kind]; ++i) {
            LDAPSchemaElement *e = schema->elements[kind][i];
            std::vector<std::string> names = field_names(e);
            char **list = nullptr;
            int rc = 0;
            each_allocation_failure([&] { rc = ldap_schema_get_field_names(e, &list); },
                                    [&](bool failed) {
                                        EXPECT_EQ(rc, failed ? LDAP_NO_MEMORY : LDAP_SUCCESS);
                                        if (failed) {
                                            EXPECT_EQ(list, nullptr);
                                        }
                                        ldap_value_free(list);
                                    });
            for (const auto &name : names) {
                each_allocation_failure([&] { rc = ldap_schema_get_field_values(e, name.c_str(), &list); },
                                        [&](bool failed) {
                                            EXPECT_EQ(rc, failed ? LDAP_NO_MEMORY : LDAP_SUCCESS) << name;
                                            ldap_value_free(list);
                                        });
            }
            char *text = nullptr;
            each_allocation_failure([&] { rc = ldap_schema_element_to_string(e, &text, nullptr); },
                                    [&](bool failed) {
                                        EXPECT_EQ(rc, failed ? LDAP_LOCAL_ERROR : LDAP_SUCCESS);
                                        ldap_memfree(text);
                                    });
        }
    }
}

// An edit that runs out of memory changes nothing: the model answers every
// lookup as before and nothing is queued.
void check_edit(const std::function<int(LDAPSubschema *)> &edit)
{
    allocfail::Hooks hooks;
    for (long n = 1;; ++n) {
        Schema schema = build(example());
        ASSERT_TRUE(schema);
        std::string before = summary(schema.get());
        allocfail::arm(n);
        int rc = edit(schema.get());
        const bool failed = allocfail::failed();
        allocfail::disarm();
        if (!failed) {
            EXPECT_EQ(rc, LDAP_SUCCESS);
            break;
        }
        EXPECT_EQ(rc, LDAP_NO_MEMORY) << "allocation " << n;
        EXPECT_EQ(summary(schema.get()), before) << "allocation " << n;
    }
}

TEST(SchemaAllocation, Edits)
{
    check_edit([](LDAPSubschema *s) {
        Mods mods{{LDAP_MOD_ADD, "OID", {"1.3.6.1.4.1.32473.1.7"}}, {LDAP_MOD_ADD, "NAME", {"a", "b"}},
                  {LDAP_MOD_ADD, "DESC", {"d"}}, {LDAP_MOD_ADD, "X-A", {"x", "y"}}, {LDAP_MOD_ADD, "SYNTAX", {"1.2"}}};
        return ldap_schema_add(s, LDAP_SCHEMA_ATTRIBUTE_TYPE, mods.get());
    });
    check_edit([](LDAPSubschema *s) {
        Mods mods{{LDAP_MOD_ADD, "MAY", {"cn", "description"}}, {LDAP_MOD_REPLACE, "NAME", {"human", "person2"}},
                  {LDAP_MOD_ADD, "X-NEW", {"v"}}, {LDAP_MOD_DELETE, "SUP", {}}};
        return ldap_schema_modify(s, "person", LDAP_SCHEMA_OBJECT_CLASS, mods.get());
    });
    check_edit([](LDAPSubschema *s) {
        Mods mods{{LDAP_MOD_REPLACE, "RULEID", {"0"}}, {LDAP_MOD_ADD, "SUP", {"2"}}};
        return ldap_schema_modify(s, "10", LDAP_SCHEMA_DIT_STRUCTURE_RULE, mods.get());
    });
    check_edit([](LDAPSubschema *s) { return ldap_schema_delete(s, LDAP_SCHEMA_ATTRIBUTE_TYPE, "labId"); });
}

}  // namespace
