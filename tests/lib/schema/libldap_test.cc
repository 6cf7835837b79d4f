// The library's description functions against libldap's functions of the
// same names: a program linked with the library gets the library's versions,
// the records of both libraries are interchangeable (either free function
// releases either's records), and where the two grammars agree the two
// parsers build the same records and the printers write the same text.
#include <gtest/gtest.h>

#include <cstring>

#include "libldap_peer.h"

namespace {

using namespace schematest;

class Libldap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(libldap_symbol("ldap_str2attributetype"), nullptr) << dlerror(); }
};

TEST_F(Libldap, TheProgramGetsTheLibrarysFunctions)
{
    EXPECT_NE(reinterpret_cast<void *>(&ldap_str2attributetype), libldap_symbol("ldap_str2attributetype"));
    EXPECT_NE(reinterpret_cast<void *>(&ldap_scherr2str), libldap_symbol("ldap_scherr2str"));

    // Keywords are case-sensitive here, not in libldap.
    Record lower(LDAP_SCHEMA_ATTRIBUTE_TYPE, "( 1.2.3 name 'x' )");
    EXPECT_FALSE(lower);
    EXPECT_EQ(lower.code(), 2);
    EXPECT_TRUE(Theirs(LDAP_SCHEMA_ATTRIBUTE_TYPE, "( 1.2.3 name 'x' )"));

    // A "-oid" word is an OID here, and an error in libldap.
    Record word(LDAP_SCHEMA_OBJECT_CLASS, "( myClass-oid NAME 'myClass' )");
    ASSERT_TRUE(word);
    EXPECT_STREQ(word.get<LDAPObjectClass>()->oc_oid, "myClass-oid");
    Theirs theirs(LDAP_SCHEMA_OBJECT_CLASS, "( myClass-oid NAME 'myClass' )");
    EXPECT_FALSE(theirs);
    EXPECT_EQ(theirs.code(), 5);

    // Codes stop at 10: libldap's 11 (missing required clause) is not one.
    Theirs missing(LDAP_SCHEMA_MATCHING_RULE, "( 2.5.13.2 NAME 'm' )");
    EXPECT_EQ(missing.code(), LDAP_SCHERR_MISSING);
    EXPECT_TRUE(Record(LDAP_SCHEMA_MATCHING_RULE, "( 2.5.13.2 NAME 'm' )"));
    EXPECT_STREQ(ldap_scherr2str(11), "Unknown error");
}

// The documented disagreements, and nothing else, on descriptions both read.
TEST_F(Libldap, DisagreesOnlyOnTheDocumentedPoints)
{
    struct Case {
        int kind;
        const char *text;
        unsigned flags;
        bool ours, theirs;
    } cases[] = {
        {0, "( 1.2.3 NAME 'x' desc 'y' )", 0, false, true},          // keyword case
        {1, "( 2.5.6.0 NAME 'top' abstract )", 0, false, true},       // keyword case
        {0, "( 1.2.3 NAME 'x' Single-Value )", 0, false, true},       // keyword case
        {2, "( x-oid DESC 'y' )", 0, true, false},                    // "-oid"
        {3, "( 1.2.3 SYNTAX the-syntax-oid )", 0, true, false},       // "-oid"
        {0, "( 1.2.3 NAME 'x' USAGE DSAOPERATION )", 0, true, true},  // usage values ignore case in both
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bool(Record(c.kind, c.text, c.flags)), c.ours) << c.text;
        EXPECT_EQ(bool(Theirs(c.kind, c.text, c.flags)), c.theirs) << c.text;
    }
}

// Where the grammars agree, the same records.
TEST_F(Libldap, SameRecordsAsLibldapOnTheCorpus)
{
    int compared = 0;
    for (const auto &d : schematest::corpus()) {
        if (d.kind == LDAP_SCHEMA_DIT_STRUCTURE_RULE) continue;  // libldap has no structure-rule SUP, ints for IDs
        for (unsigned flags : {0u, 15u}) {
            Record ours(d.kind, d.text, flags);
            Theirs theirs(d.kind, d.text, flags);
            ASSERT_TRUE(ours) << d.text;
            ASSERT_TRUE(theirs) << d.text;
            EXPECT_EQ(ours.rendered(), render_theirs(d.kind, theirs.get())) << d.text;
            ++compared;
        }
    }
    EXPECT_GT(compared, 150);
}

// The printers write what libldap's write, for the kinds libldap prints alike.
TEST_F(Libldap, SamePrintedTextAsLibldap)
{
    for (const auto &d : schematest::corpus()) {
        if (d.kind > LDAP_SCHEMA_NAME_FORM) continue;
        Theirs theirs(d.kind, d.text);
        ASSERT_TRUE(theirs);
        // libldap's syntax printer leaves the names out.
        if (d.kind == LDAP_SCHEMA_SYNTAX && static_cast<LDAPSyntax *>(theirs.get())->syn_names) continue;
        char *expected = libldap<ToStr>(kLibldap[d.kind].to_str)(theirs.get());
        char *actual = schematest::print(d.kind, theirs.get());
        ASSERT_NE(expected, nullptr);
        ASSERT_NE(actual, nullptr);
        EXPECT_STREQ(actual, expected) << d.text;
        ldap_memfree(expected);
        ldap_memfree(actual);
    }
}

// Records cross over: either library's free function releases either's
// records (the sanitizer build checks that nothing leaks or is freed wrongly).
TEST_F(Libldap, EitherFreeFunctionReleasesEitherRecord)
{
    for (const auto &d : schematest::corpus()) {
        if (d.kind > LDAP_SCHEMA_NAME_FORM) continue;
        int code = 0;
        const char *errp = nullptr;
        void *ours = schematest::parse(d.kind, d.text.c_str(), &code, &errp, 0);
        ASSERT_NE(ours, nullptr) << d.text;
        // libldap's printer reads the library's record, libldap's free releases it.
        char *text = libldap<ToStr>(kLibldap[d.kind].to_str)(ours);
        EXPECT_NE(text, nullptr);
        ldap_memfree(text);
        libldap<Free>(kLibldap[d.kind].free)(ours);

        Theirs theirs(d.kind, d.text);
        ASSERT_TRUE(theirs);
        schematest::release(d.kind, theirs.release());
    }
}

}  // namespace
