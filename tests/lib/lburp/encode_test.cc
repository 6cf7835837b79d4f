// The four LBURP operation encoders' arguments and how they append to the
// caller's element (their bytes over generated operations: properties_test.cc).
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

// What well-formed operations carry, beside the argument at fault.
char kCnValue[] = "a";
char *kCnValues[] = {kCnValue, nullptr};
char kCn[] = "cn";
char kSn[] = "sn";
LDAPMod kCnStrings = {LDAP_MOD_ADD, kCn, {kCnValues}};
LDAPMod kSnReplaceStrings = {LDAP_MOD_REPLACE, kSn, {kCnValues}};
LDAPMod *kAddAttrs[] = {&kCnStrings, nullptr};
LDAPMod *kReplaceStrings[] = {&kSnReplaceStrings, nullptr};

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
