// The schema-description parsers and printers, through the exported names.
#include <gtest/gtest.h>

#include <cstring>

#include "schema_test_util.h"

namespace {

using schematest::Record;

enum : int { AT = 0, OC = 1, SYN = 2, MR = 3, MRU = 4, NF = 5, DCR = 6, DSR = 7 };

// Readable names for the table rows: the kind and the row number.
template <class Param>
std::string row_name(const ::testing::TestParamInfo<Param> &info)
{
    static const char *const kinds[] = {"AT", "OC", "SYN", "MR", "MRU", "NF", "DCR", "DSR"};
    return std::string(kinds[info.param.kind]) + "_" + std::to_string(info.index);
}

// ------------------------------------------------------------------ parsing

struct Parsed {
    int kind;
    const char *text;
    unsigned flags;
    const char *fields;  // schematest::render of the record
};

class ParsesTo : public ::testing::TestWithParam<Parsed> {};

TEST_P(ParsesTo, Fields)
{
    const Parsed &p = GetParam();
    Record r(p.kind, p.text, p.flags);
    ASSERT_TRUE(r) << "code " << r.code() << " at " << r.offset();
    EXPECT_EQ(r.code(), 0);
    EXPECT_EQ(r.rendered(), p.fields);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ParsesTo,
    ::testing::Values(
        Parsed{AT,
               "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s)' SUP name )", 0,
               "oid='2.5.4.3' names=[cn,commonName] desc='RFC4519: common name(s)' obsolete=0 sup='name' eq=- "
               "ord=- sub=- syntax=-{0} single=0 collective=0 nousermod=0 usage=0 ext=-"},
        Parsed{AT,
               "( 1.2.3 NAME 'x' OBSOLETE EQUALITY e ORDERING o SUBSTR s SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32} "
               "SINGLE-VALUE COLLECTIVE NO-USER-MODIFICATION USAGE dsaoperation X-A 'v' X-B ( 'p' 'q' ) )",
               0,
               "oid='1.2.3' names=[x] desc=- obsolete=1 sup=- eq='e' ord='o' sub='s' "
               "syntax='1.3.6.1.4.1.1466.115.121.1.15'{32} single=1 collective=1 nousermod=1 usage=3 "
               "ext={'X-A'=[v];'X-B'=[p,q];}"},
        // Blanks are optional around parentheses, tabs and newlines are blanks.
        Parsed{AT, "(1.2.3\tNAME('a''b')\nDESC'd')", 0,
               "oid='1.2.3' names=[a,b] desc='d' obsolete=0 sup=- eq=- ord=- sub=- syntax=-{0} single=0 "
               "collective=0 nousermod=0 usage=0 ext=-"},
        // Text after the closing parenthesis is not looked at.
        Parsed{SYN, "( 1.2.3 DESC 'x' ) trailing", 0, "oid='1.2.3' names=- desc='x' ext=-"},
        // RFC 4512 escapes in quoted strings.
        Parsed{SYN, "( 1.2.3 DESC 'it\\27s a \\5Cpath\\5c \\41' )", 0,
               "oid='1.2.3' names=- desc='it's a \\path\\ \\41' ext=-"},
        Parsed{SYN, "( 1.2.3 NAME 'n' X-NOT-HUMAN-READABLE 'TRUE' )", 0,
               "oid='1.2.3' names=[n] desc=- ext={'X-NOT-HUMAN-READABLE'=[TRUE];}"},
        // "NAME ( )" is an empty list, as libldap has it; an empty OID list is absent.
        Parsed{OC, "( 2.5.6.6 NAME ( ) SUP ( ) MUST ( sn $ cn ) MAY ( a$b ) )", 0,
               "oid='2.5.6.6' names=[] desc=- obsolete=0 sup=- kind=1 must=[sn,cn] may=[a,b] ext=-"},
        Parsed{OC, "( 2.5.6.0 NAME 'top' ABSTRACT MUST objectClass )", 0,
               "oid='2.5.6.0' names=[top] desc=- obsolete=0 sup=- kind=0 must=[objectClass] may=- ext=-"},
        Parsed{OC, "( 1.2 AUXILIARY )", 0, "oid='1.2' names=- desc=- obsolete=0 sup=- kind=2 must=- may=- ext=-"},
        // The printer writes KIND-UNKNOWN for a kind outside 0 to 2; it reads back.
        Parsed{OC, "( 1.2 KIND-UNKNOWN )", 0,
               "oid='1.2' names=- desc=- obsolete=0 sup=- kind=-1 must=- may=- ext=-"},
        // Quoted superiors and applies with ALLOW_QUOTED only.
        Parsed{OC, "( 1.2 SUP ( 'top' $ person ) )", LDAP_SCHEMA_ALLOW_QUOTED,
               "oid='1.2' names=- desc=- obsolete=0 sup=[top,person] kind=1 must=- may=- ext=-"},
        Parsed{MR, "( 2.5.13.2 NAME 'caseIgnoreMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )", 0,
               "oid='2.5.13.2' names=[caseIgnoreMatch] desc=- obsolete=0 syntax='1.3.6.1.4.1.1466.115.121.1.15' "
               "ext=-"},
        Parsed{MR, "( '2.5.13.2' SYNTAX '1.2.3' )", LDAP_SCHEMA_ALLOW_QUOTED,
               "oid='2.5.13.2' names=- desc=- obsolete=0 syntax='1.2.3' ext=-"},
        // No required clause is enforced: what the printer writes parses back.
        Parsed{MR, "( 2.5.13.2 )", 0, "oid='2.5.13.2' names=- desc=- obsolete=0 syntax=- ext=-"},
        Parsed{MRU, "( 2.5.13.2 APPLIES ( cn $ sn ) )", 0,
               "oid='2.5.13.2' names=- desc=- obsolete=0 applies=[cn,sn] ext=-"},
        Parsed{MRU, "( 2.5.13.2 APPLIES 'cn' )", LDAP_SCHEMA_ALLOW_QUOTED,
               "oid='2.5.13.2' names=- desc=- obsolete=0 applies=[cn] ext=-"},
        Parsed{NF, "( 1.2.3 NAME 'nf' OC person MUST ( cn ) MAY ( ou $ o ) )", 0,
               "oid='1.2.3' names=[nf] desc=- obsolete=0 oc='person' must=[cn] may=[ou,o] ext=-"},
        Parsed{DCR, "( 2.5.6.6 NAME 'r' DESC 'd' OBSOLETE AUX ( a $ b ) MUST m MAY ( x $ y ) NOT n X-O 'o' )", 0,
               "oid='2.5.6.6' names=[r] desc='d' obsolete=1 aux=[a,b] must=[m] may=[x,y] not=[n] ext={'X-O'=[o];}"},
        Parsed{DCR, "( 2.5.6.6 NAME 'only' )", 0,
               "oid='2.5.6.6' names=[only] desc=- obsolete=0 aux=- must=- may=- not=- ext=-"},
        Parsed{DSR, "( 12 NAME 'r' DESC 'd' OBSOLETE FORM nf SUP ( 1 2 $ 3 ) X-O 'o' )", 0,
               "ruleid='12' names=[r] desc='d' obsolete=1 form='nf' sup=[1,2,3] ext={'X-O'=[o];}"},
        Parsed{DSR, "( 0 FORM nf SUP 7 )", 0, "ruleid='0' names=- desc=- obsolete=0 form='nf' sup=[7] ext=-"},
        // "-oid": a word where a numeric OID belongs, because "-oid" occurs later.
        Parsed{AT, "( nsAdminDomain-oid NAME 'x' SYNTAX custom-oid{64} )", 0,
               "oid='nsAdminDomain-oid' names=[x] desc=- obsolete=0 sup=- eq=- ord=- sub=- syntax='custom-oid'{64} "
               "single=0 collective=0 nousermod=0 usage=0 ext=-"},
        Parsed{AT, "( myattr NAME 'x' DESC 'see other-oid' )", 0,
               "oid='myattr' names=[x] desc='see other-oid' obsolete=0 sup=- eq=- ord=- sub=- syntax=-{0} "
               "single=0 collective=0 nousermod=0 usage=0 ext=-"},
        Parsed{SYN, "( x-oid DESC 'd' )", 0, "oid='x-oid' names=- desc='d' ext=-"},
        Parsed{MR, "( 1.2 SYNTAX thing-oid )", 0, "oid='1.2' names=- desc=- obsolete=0 syntax='thing-oid' ext=-"},
        // The model's flags (15): the OID may be missing, or a word that is skipped.
        Parsed{AT, "( NAME 'x' )", 15,
               "oid=- names=[x] desc=- obsolete=0 sup=- eq=- ord=- sub=- syntax=-{0} single=0 collective=0 "
               "nousermod=0 usage=0 ext=-"},
        Parsed{OC, "( person NAME 'person' )", 15,
               "oid=- names=[person] desc=- obsolete=0 sup=- kind=1 must=- may=- ext=-"},
        Parsed{AT, "( '1.2.3' NAME 'x' )", 15,
               "oid='1.2.3' names=[x] desc=- obsolete=0 sup=- eq=- ord=- sub=- syntax=-{0} single=0 collective=0 "
               "nousermod=0 usage=0 ext=-"},
        Parsed{AT, "( 1.2.3 SYNTAX '1.2.4{16}' )", 15,
               "oid='1.2.3' names=- desc=- obsolete=0 sup=- eq=- ord=- sub=- syntax='1.2.4'{16} single=0 "
               "collective=0 nousermod=0 usage=0 ext=-"},
        Parsed{SYN, "( DESC 'no oid' )", 15, "oid=- names=- desc='no oid' ext=-"},
        Parsed{NF, "( name NAME 'a' )", 15, "oid=- names=[a] desc=- obsolete=0 oc=- must=- may=- ext=-"},
        // ALLOW_OID_MACRO keeps the word.
        Parsed{AT, "( myOid:1 NAME 'x' )", LDAP_SCHEMA_ALLOW_NO_OID | LDAP_SCHEMA_ALLOW_OID_MACRO,
               "oid='myOid:1' names=[x] desc=- obsolete=0 sup=- eq=- ord=- sub=- syntax=-{0} single=0 "
               "collective=0 nousermod=0 usage=0 ext=-"}),
    row_name<Parsed>);

struct Malformed {
    int kind;
    const char *text;
    unsigned flags;
    int code;
    long offset;  // of errp; -1: at the end of the text
};

class Rejects : public ::testing::TestWithParam<Malformed> {};

TEST_P(Rejects, WithCodeAndPosition)
{
    const Malformed &m = GetParam();
    Record r(m.kind, m.text, m.flags);
    ASSERT_FALSE(r) << r.rendered();
    EXPECT_EQ(r.code(), m.code);
    EXPECT_EQ(r.offset(), m.offset < 0 ? long(std::strlen(m.text)) : m.offset);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, Rejects,
    ::testing::Values(
        Malformed{AT, "", 0, 3, 0}, Malformed{AT, "1.2.3", 0, 3, 0}, Malformed{AT, " ( 1.2.3 )", 0, 3, 0},
        Malformed{AT, "( 1.2.3 NAME 'a'", 0, 4, -1}, Malformed{AT, "( 1.2.3", 0, 4, -1},
        // Keywords are case-sensitive.
        Malformed{AT, "( 1.2.3 name 'a' )", 0, 2, 12}, Malformed{AT, "( 1.2.3 NAME 'a' Desc 'd' )", 0, 2, 21},
        Malformed{OC, "( 2.5.6.0 abstract )", 0, 2, 18}, Malformed{AT, "( 1.2.3 x-origin 'a' )", 0, 2, 16},
        Malformed{AT, "( 1.2.3 NAME 'a' NAME 'b' )", 0, 9, 21}, Malformed{AT, "( 1.2.3 SINGLE-VALUE SINGLE-VALUE )", 0, 9, 33},
        Malformed{OC, "( 2.5.6.0 ABSTRACT STRUCTURAL )", 0, 9, 29},
        Malformed{AT, "( x NAME 'a' )", 0, 5, 2}, Malformed{AT, "( 1.2. NAME 'a' )", 0, 5, 6},
        Malformed{AT, "( 1..2 )", 0, 5, 4}, Malformed{NF, "( name NAME 'a' )", 0, 5, 2},
        Malformed{AT, "( 1.2.3 NAME cn )", 0, 6, 15}, Malformed{AT, "( 1.2.3 NAME ( 'a' b ) )", 0, 6, 20},
        Malformed{AT, "( 1.2.3 NAME )", 0, 6, 14}, Malformed{AT, "( 1.2.3 DESC x )", 0, 2, 14},
        Malformed{AT, "( 1.2.3 DESC 'open )", 0, 2, -1}, Malformed{AT, "( 1.2.3 SUP 'x' )", 0, 2, 15},
        Malformed{AT, "( 1.2.3 SUP { )", 0, 2, 13}, Malformed{AT, "( 1.2.3 SYNTAX 1.2{x} )", 0, 2, 19},
        Malformed{AT, "( 1.2.3 SYNTAX abc )", 0, 5, 15}, Malformed{AT, "( 1.2.3 SYNTAX 1.2{99999999999} )", 0, 2, 28},
        Malformed{AT, "( 1.2.3 SYNTAX '1.2' )", 0, 5, 15}, Malformed{AT, "( 1.2.3 SYNTAX '1.2 )", 15, 2, 19},
        Malformed{AT, "( 1.2.3 USAGE bogus )", 0, 2, 19}, Malformed{AT, "( 1.2.3 USAGE 'x' )", 0, 2, 17},
        Malformed{AT, "( 1.2.3 X-A )", 0, 6, 13}, Malformed{AT, "( 1.2.3 X-A ( 'a' b ) )", 0, 2, 19},
        Malformed{AT, "( 1.2.3 'stray' )", 0, 2, 15}, Malformed{AT, "( 1.2.3 $ )", 0, 2, 9},
        Malformed{OC, "( 2.5.6.0 MUST ( a b ) )", 0, 2, 20}, Malformed{OC, "( 2.5.6.0 MUST )", 0, 6, 16},
        Malformed{OC, "( 2.5.6.0 MUST ( a $ ) )", 0, 2, 22}, Malformed{OC, "( 2.5.6.0 SUP 'top' )", 0, 6, 19},
        Malformed{OC, "( 2.5.6.0 SUP ( 'two words' ) )", 15, 2, 27},
        Malformed{MR, "( 1.2 SYNTAX x )", 0, 5, 13}, Malformed{SYN, "( 1.2 OBSOLETE )", 0, 2, 14},
        Malformed{NF, "( 1.2 OC )", 0, 2, 10}, Malformed{DCR, "( 1.2 SUP top )", 0, 2, 9},
        Malformed{DSR, "( x FORM f )", 0, 5, 2}, Malformed{DSR, "( 1 SUP ( 2 x ) )", 0, 5, 12},
        Malformed{DSR, "( 1 SUP name )", 0, 5, 8}, Malformed{DSR, "( 1.2 FORM f )", 0, 2, 5},
        // A keyword is never taken for an OID, "-oid" or not; and "-oid" must
        // stand within the description.
        Malformed{AT, "( NAME 'x-oid' )", 0, 5, 2}, Malformed{AT, "( foo NAME 'x' ) trailing-oid", 0, 5, 2}),
    row_name<Malformed>);

TEST(DescriptionParsers, NullTextGivesCode10AndAnEmptyErrp)
{
    for (int kind = 0; kind < 8; ++kind) {
        int code = -1;
        const char *errp = nullptr;
        EXPECT_EQ(schematest::parse(kind, nullptr, &code, &errp, 0), nullptr);
        EXPECT_EQ(code, 10);
        ASSERT_NE(errp, nullptr);
        EXPECT_STREQ(errp, "");
    }
}

TEST(DescriptionParsers, CodeAndErrpMayBeNull)
{
    EXPECT_EQ(ldap_str2attributetype("( 1.2 junk )", nullptr, nullptr, 0), nullptr);
    LDAPAttributeType *at = ldap_str2attributetype("( 1.2 )", nullptr, nullptr, 0);
    ASSERT_NE(at, nullptr);
    ldap_attributetype_free(at);
}

TEST(DescriptionParsers, EveryPrefixOfAValidDescriptionFailsCleanly)
{
    for (const auto &d : schematest::corpus()) {
        for (size_t n = 0; n + 1 < d.text.size(); ++n) {
            std::string prefix = d.text.substr(0, n);
            Record r(d.kind, prefix);
            EXPECT_FALSE(r) << prefix;
            EXPECT_GE(r.offset(), 0);
            EXPECT_LE(r.offset(), long(prefix.size()));
        }
    }
}

// ------------------------------------------------------------------ printing

struct Printed {
    int kind;
    const char *text;
    const char *printed;
};

class PrintsAs : public ::testing::TestWithParam<Printed> {};

TEST_P(PrintsAs, ExactText)
{
    const Printed &p = GetParam();
    Record r(p.kind, p.text, 15);
    ASSERT_TRUE(r) << r.code();
    EXPECT_EQ(r.printed(), p.printed);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, PrintsAs,
    ::testing::Values(
        Printed{AT, "(2.5.4.3 NAME('cn' 'commonName')SUP name)",
                "( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )"},
        Printed{AT, "( 1.2.3 USAGE directoryOperation SYNTAX 1.2.4{0} SINGLE-VALUE OBSOLETE NAME 'x' )",
                "( 1.2.3 NAME 'x' OBSOLETE SYNTAX 1.2.4 SINGLE-VALUE USAGE directoryOperation )"},
        Printed{AT, "( 1.2.3 SYNTAX 1.2.4{32} X-A ( 'a' 'b' ) X-B 'c' )",
                "( 1.2.3 SYNTAX 1.2.4{32} X-A ( 'a' 'b' ) X-B 'c' )"},
        Printed{OC, "( 1.2 MAY m )", "( 1.2 STRUCTURAL MAY m )"},
        Printed{OC, "( 1.2 MUST ( a $ b ) SUP top ABSTRACT DESC 'd' )",
                "( 1.2 DESC 'd' SUP top ABSTRACT MUST ( a $ b ) )"},
        Printed{OC, "( 1.2 SUP ( a $ b ) AUXILIARY )", "( 1.2 SUP ( a $ b ) AUXILIARY )"},
        Printed{OC, "( 1.2 KIND-UNKNOWN )", "( 1.2 KIND-UNKNOWN )"},
        Printed{SYN, "( 1.2 NAME 'n' DESC 'd' )", "( 1.2 NAME 'n' DESC 'd' )"},
        Printed{SYN, "( 1.2 DESC 'it\\27s \\5C' )", "( 1.2 DESC 'it\\27s \\5C' )"},
        Printed{MR, "( 1.2 SYNTAX 1.3 OBSOLETE )", "( 1.2 OBSOLETE SYNTAX 1.3 )"},
        Printed{MRU, "( 1.2 APPLIES ( a $ b $ c ) )", "( 1.2 APPLIES ( a $ b $ c ) )"},
        Printed{NF, "( 1.2 MAY m OC c MUST ( a ) )", "( 1.2 OC c MUST a MAY m )"},
        Printed{NF, "( 1.2 NAME 'only' )", "( 1.2 NAME 'only' )"},
        Printed{DCR, "( 1.2 NOT n MAY m MUST u AUX a )", "( 1.2 AUX a MUST u MAY m NOT n )"},
        Printed{DCR, "( 1.2 NAME 'n' )", "( 1.2 NAME 'n' )"},
        Printed{DSR, "( 3 SUP ( 1 2 ) FORM f NAME 'r' )", "( 3 NAME 'r' FORM f SUP ( 1 2 ) )"},
        Printed{DSR, "( 3 SUP 1 )", "( 3 SUP 1 )"},
        Printed{AT, "( NAME 'nooid' )", "( NAME 'nooid' )"}),
    row_name<Printed>);

TEST(DescriptionPrinters, NullRecordGivesNull)
{
    EXPECT_EQ(ldap_attributetype2str(nullptr), nullptr);
    EXPECT_EQ(ldap_ditstructurerule2str(nullptr), nullptr);
    ldap_objectclass_free(nullptr);  // and the free functions ignore null
    ldap_ditcontentrule_free(nullptr);
}

TEST(DescriptionPrinters, SyntaxLengthAndUsageOfHandBuiltRecords)
{
    char oid[] = "1.2.3", syntax[] = "1.3.6.1.4.1.1466.115.121.1.15";
    LDAPAttributeType at{};
    at.at_oid = oid;
    at.at_syntax_oid = syntax;
    at.at_syntax_len = 32;
    at.at_usage = 7;
    char *s = ldap_attributetype2str(&at);
    EXPECT_STREQ(s, "( 1.2.3 SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32} USAGE UNKNOWN )");
    ldap_memfree(s);

    LDAPObjectClass oc{};
    oc.oc_oid = oid;
    oc.oc_kind = 9;
    s = ldap_objectclass2str(&oc);
    EXPECT_STREQ(s, "( 1.2.3 KIND-UNKNOWN )");
    ldap_memfree(s);

    // An extension whose value list is gone still prints as an empty list.
    char name[] = "X-EMPTY";
    LDAPSchemaExtensionItem item{name, nullptr};
    LDAPSchemaExtensionItem *items[] = {&item, nullptr};
    LDAPSyntax syn{};
    syn.syn_oid = oid;
    syn.syn_extensions = items;
    s = ldap_syntax2str(&syn);
    EXPECT_STREQ(s, "( 1.2.3 X-EMPTY () )");
    ldap_memfree(s);
}

// Every description printed by the printers parses back to the same record,
// and printing that record gives the same text.
TEST(DescriptionPrinters, PrintThenParseGivesTheSameRecord)
{
    for (const auto &d : schematest::corpus()) {
        Record first(d.kind, d.text);
        ASSERT_TRUE(first) << d.text;
        std::string printed = first.printed();
        Record second(d.kind, printed);
        ASSERT_TRUE(second) << printed << " code " << second.code();
        EXPECT_EQ(second.rendered(), first.rendered()) << printed;
        EXPECT_EQ(second.printed(), printed);
    }
}

// ------------------------------------------------------------------ names

TEST(DescriptionNames, ScherrTexts)
{
    const char *expected[] = {"Success",
                              "Out of memory",
                              "Unexpected token",
                              "Missing opening parenthesis",
                              "Missing closing parenthesis",
                              "Expecting digit",
                              "Expecting a name",
                              "Bad description",
                              "Bad superiors",
                              "Duplicate option",
                              "Unexpected end of data"};
    for (int code = 0; code <= 10; ++code) EXPECT_STREQ(ldap_scherr2str(code), expected[code]) << code;
    for (int code : {-1, 11, 12, 1000}) EXPECT_STREQ(ldap_scherr2str(code), "Unknown error") << code;
}

TEST(DescriptionNames, FirstNameOrOid)
{
    Record at(AT, "( 2.5.4.3 NAME ( 'cn' 'commonName' ) )");
    EXPECT_STREQ(ldap_attributetype2name(at.get<LDAPAttributeType>()), "cn");
    Record bare(AT, "( 2.5.4.3 )");
    EXPECT_STREQ(ldap_attributetype2name(bare.get<LDAPAttributeType>()), "2.5.4.3");
    Record oc(OC, "( 2.5.6.0 NAME 'top' )");
    EXPECT_STREQ(ldap_objectclass2name(oc.get<LDAPObjectClass>()), "top");
    Record mr(MR, "( 2.5.13.2 SYNTAX 1.2 )");
    EXPECT_STREQ(ldap_matchingrule2name(mr.get<LDAPMatchingRule>()), "2.5.13.2");
    Record syn(SYN, "( 1.2.3 NAME 'named' )");
    EXPECT_STREQ(ldap_syntax2name(syn.get<LDAPSyntax>()), "1.2.3");
    EXPECT_EQ(ldap_syntax2name(nullptr), nullptr);
    EXPECT_EQ(ldap_matchingrule2name(nullptr), nullptr);
    EXPECT_EQ(ldap_attributetype2name(nullptr), nullptr);
    EXPECT_EQ(ldap_objectclass2name(nullptr), nullptr);
}

}  // namespace
