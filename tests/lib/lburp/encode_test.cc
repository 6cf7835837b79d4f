// The four LBURP operation encoders on bytes: each appends one operation to
// the caller's element, exactly as RFC 4511 encodes the request inside it.
#include <dirext.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ber_bytes.h"

namespace {

using extops_test::Ber;
using extops_test::flatten;
using extops_test::hex;
using extops_test::unhex;

using Encode = std::function<int(BerElement *)>;

std::string der(const Encode &encode, int *rc)
{
    BerElement *ber = ber_alloc_t(LBER_USE_DER);
    *rc = encode(ber);
    if (*rc != LDAP_SUCCESS) return {};  // the encoder has released it
    Ber owned(ber);
    return hex(flatten(ber));
}

// Values and modifications.
char kCnValue[] = "a";
char *kCnValues[] = {kCnValue, nullptr};
char kCn[] = "cn";
char kSn[] = "sn";
LDAPMod kCnStrings = {LDAP_MOD_ADD, kCn, {kCnValues}};
berval kX = {1, const_cast<char *>("x")};
berval kNul = {2, const_cast<char *>("\0y")};  // counted values may hold any byte
berval *kSnValues[] = {&kX, &kNul, nullptr};
LDAPMod kSnCounted = {LDAP_MOD_BVALUES | LDAP_MOD_REPLACE, kSn, {nullptr}};
LDAPMod kSnReplaceStrings = {LDAP_MOD_REPLACE, kSn, {nullptr}};
LDAPMod kCnDeleteAll = {LDAP_MOD_DELETE, kCn, {nullptr}};

char kOid[] = "1.2";
LDAPControl kPlainControl = {kOid, {0, nullptr}, 0};
LDAPControl kFullControl = {kOid, {2, const_cast<char *>("ab")}, 1};
LDAPControl kEmptyValueControl = {kOid, {0, const_cast<char *>("")}, 0};

struct Case {
    const char *name;
    Encode encode;
    const char *expected;
};

class Encoders : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite()
    {
        kSnCounted.mod_bvalues = kSnValues;
        static char x[] = "x";
        static char *strings[] = {x, nullptr};
        kSnReplaceStrings.mod_values = strings;
    }
};

TEST_P(Encoders, WriteTheOperationExactly)
{
    int rc = -1;
    const std::string bytes = der(GetParam().encode, &rc);
    ASSERT_EQ(rc, LDAP_SUCCESS);
    EXPECT_EQ(bytes, hex(unhex(GetParam().expected)));
}

LDAPControl *kPlain[] = {&kPlainControl, nullptr};
LDAPControl *kBoth[] = {&kFullControl, &kPlainControl, nullptr};
LDAPControl *kEmptyValue[] = {&kEmptyValueControl, nullptr};
LDAPControl *kNoControls[] = {nullptr};
LDAPMod *kAddAttrs[] = {&kCnStrings, nullptr};
LDAPMod *kAddCounted[] = {&kCnStrings, &kSnCounted, nullptr};
LDAPMod *kNoMods[] = {nullptr};
LDAPMod *kReplaceCounted[] = {&kSnCounted, nullptr};
LDAPMod *kReplaceStrings[] = {&kSnReplaceStrings, nullptr};
LDAPMod *kDeleteAll[] = {&kCnDeleteAll, nullptr};

INSTANTIATE_TEST_SUITE_P(
    Lburp, Encoders,
    ::testing::Values(
        Case{"DeletePlain", [](BerElement *b) { return LBURPEncodeDelete(nullptr, "o=x", nullptr, b); },
             "30 05 4a 03 6f 3d 78"},
        // A control without criticality and value is its OID alone.
        Case{"DeleteControlOidOnly", [](BerElement *b) { return LBURPEncodeDelete(nullptr, "o=x", kPlain, b); },
             "30 0e 4a 03 6f3d78 a0 07 30 05 04 03 312e32"},
        Case{"DeleteTwoControls", [](BerElement *b) { return LBURPEncodeDelete(nullptr, "o=x", kBoth, b); },
             "30 1c 4a 03 6f3d78 a0 15 30 0c 04 03 312e32 01 01 ff 04 02 6162 30 05 04 03 312e32"},
        // A present but empty value is sent; an empty control list is an empty [0].
        Case{"DeleteEmptyControlValue",
             [](BerElement *b) { return LBURPEncodeDelete(nullptr, "o=x", kEmptyValue, b); },
             "30 10 4a 03 6f3d78 a0 09 30 07 04 03 312e32 04 00"},
        Case{"DeleteEmptyControlList",
             [](BerElement *b) { return LBURPEncodeDelete(nullptr, "o=x", kNoControls, b); },
             "30 07 4a 03 6f3d78 a0 00"},
        Case{"AddStrings", [](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", kAddAttrs, nullptr, b); },
             "30 15 68 13 04 04 636e3d61 30 0b 30 09 04 02 636e 31 03 04 01 61"},
        Case{"AddCountedValues",
             [](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", kAddCounted, nullptr, b); },
             "30 24 68 22 04 04 636e3d61 30 1a 30 09 04 02 636e 31 03 04 01 61"
             " 30 0d 04 02 736e 31 07 04 01 78 04 02 0079"},
        Case{"AddNoAttributes", [](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", kNoMods, nullptr, b); },
             "30 0a 68 08 04 04 636e3d61 30 00"},
        // mod_op 0x82 and 2 both send ENUMERATED 2; only the value arrays differ.
        Case{"ModifyCountedReplace",
             [](BerElement *b) { return LBURPEncodeMod(nullptr, "o=x", kReplaceCounted, nullptr, b); },
             "30 1d 66 1b 04 03 6f3d78 30 14 30 12 0a 01 02 30 0d 04 02 736e 31 07 04 01 78 04 02 0079"},
        Case{"ModifyStringReplace",
             [](BerElement *b) { return LBURPEncodeMod(nullptr, "o=x", kReplaceStrings, nullptr, b); },
             "30 19 66 17 04 03 6f3d78 30 10 30 0e 0a 01 02 30 09 04 02 736e 31 03 04 01 78"},
        Case{"ModifyDeleteWholeAttribute",
             [](BerElement *b) { return LBURPEncodeMod(nullptr, "o=x", kDeleteAll, kPlain, b); },
             "30 1f 66 14 04 03 6f3d78 30 0d 30 0b 0a 01 01 30 06 04 02 636e 31 00"
             " a0 07 30 05 04 03 312e32"},
        Case{"ModRdnKeepParent",
             [](BerElement *b) { return LBURPEncodeModRDN(nullptr, "cn=a,o=x", "cn=b", nullptr, 0, nullptr, b); },
             "30 15 6c 13 04 08 636e3d612c6f3d78 04 04 636e3d62 01 01 00"},
        // newSuperior is [0] (0x80); any non-zero flag is TRUE.
        Case{"ModRdnNewSuperior",
             [](BerElement *b) { return LBURPEncodeModRDN(nullptr, "cn=a,o=x", "cn=b", "o=y", 5, kPlain, b); },
             "30 23 6c 18 04 08 636e3d612c6f3d78 04 04 636e3d62 01 01 ff 80 03 6f3d79"
             " a0 07 30 05 04 03 312e32"}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// Failures release the caller's element (ASan reports a leak or a double
// free otherwise); a null element is refused without touching anything.
TEST(EncoderArguments, RefusedArgumentsReleaseTheElement)
{
    LDAPMod nameless = {LDAP_MOD_ADD, nullptr, {kCnValues}};
    LDAPMod *nameless_list[] = {&nameless, nullptr};
    berval broken = {3, nullptr};
    berval *broken_values[] = {&broken, nullptr};
    LDAPMod broken_mod = {LDAP_MOD_BVALUES | LDAP_MOD_ADD, kCn, {nullptr}};
    broken_mod.mod_bvalues = broken_values;
    LDAPMod *broken_list[] = {&broken_mod, nullptr};
    LDAPControl oidless = {nullptr, {0, nullptr}, 0};
    LDAPControl *oidless_list[] = {&oidless, nullptr};

    const std::vector<Encode> refused = {
        [](BerElement *b) { return LBURPEncodeDelete(nullptr, nullptr, nullptr, b); },
        [](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", nullptr, nullptr, b); },
        [](BerElement *b) { return LBURPEncodeAdd(nullptr, nullptr, kAddAttrs, nullptr, b); },
        [&](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", nameless_list, nullptr, b); },
        [&](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a", broken_list, nullptr, b); },
        [](BerElement *b) { return LBURPEncodeMod(nullptr, "o=x", nullptr, nullptr, b); },
        [&](BerElement *b) { return LBURPEncodeMod(nullptr, "o=x", kReplaceStrings, oidless_list, b); },
        [](BerElement *b) { return LBURPEncodeModRDN(nullptr, "o=x", nullptr, nullptr, 1, nullptr, b); },
        [](BerElement *b) { return LBURPEncodeModRDN(nullptr, nullptr, "o=y", nullptr, 1, nullptr, b); },
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        int rc = 0;
        der(refused[i], &rc);
        EXPECT_EQ(rc, LDAP_PARAM_ERROR) << "case " << i;
    }
    EXPECT_EQ(LBURPEncodeDelete(nullptr, "o=x", nullptr, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(LBURPEncodeModRDN(nullptr, "o=x", "o=y", nullptr, 0, nullptr, nullptr), LDAP_PARAM_ERROR);
}

// Operations append: two in a row follow each other inside what the caller
// opened.
TEST(EncoderArguments, OperationsAppendToTheOpenElement)
{
    Ber ber(ber_alloc_t(LBER_USE_DER));
    ASSERT_NE(ber_printf(ber.get(), "{i", 9), -1);
    BerElement *b = ber.release();
    ASSERT_EQ(LBURPEncodeDelete(nullptr, "o=x", nullptr, b), LDAP_SUCCESS);
    ASSERT_EQ(LBURPEncodeDelete(nullptr, "o=y", nullptr, b), LDAP_SUCCESS);
    ber.reset(b);
    ASSERT_NE(ber_printf(ber.get(), "}"), -1);
    EXPECT_EQ(hex(flatten(ber.get())), hex(unhex("30 11 02 01 09 30 05 4a 03 6f3d78 30 05 4a 03 6f3d79")));
}

}  // namespace
