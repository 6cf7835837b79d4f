// The simulator's DN normal form against libldap's own ldap_dn_normalize
// (lower-cased), and the first RDN's pairs against a parse of the whole DN,
// for DNs that read and DNs that do not.  Each DN is read twice, since the
// second reading finds its parent remembered.
#include <gtest/gtest.h>
#include <ldap.h>

#include <optional>
#include <string>

#include "dn.h"

namespace {

using dirsim::detail::first_rdn;
using dirsim::detail::normalize_dn;
using dirsim::detail::parse_dn;

std::optional<std::string> oracle(const std::string &dn)
{
    char *out = nullptr;
    if (ldap_dn_normalize(dn.c_str(), LDAP_DN_FORMAT_LDAPV3, &out, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
        return std::nullopt;
    std::string s = out ? out : "";
    ldap_memfree(out);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

void expect_as_libldap(const std::string &dn)
{
    SCOPED_TRACE("dn [" + dn + "]");
    const auto expected = oracle(dn);
    for (int reading = 0; reading < 2; ++reading) {
        EXPECT_EQ(normalize_dn(dn), expected);
        const auto parsed = parse_dn(dn);
        ASSERT_EQ(parsed.has_value(), expected.has_value());
        if (!parsed) continue;
        EXPECT_EQ(parsed->normalized, *expected);
        EXPECT_EQ(parsed->first_rdn, first_rdn(dn).value_or(dirsim::detail::RdnPairs()));
    }
}

class DnNormalForm : public testing::TestWithParam<const char *> {};

TEST_P(DnNormalForm, IsLibldapsLowerCased) { expect_as_libldap(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Dns, DnNormalForm,
    testing::Values("", "o=lab", "cn=user1,ou=bulk,o=lab", "CN=User1, OU=Bulk , O=Lab", "  cn=a,o=x",
                    "cn=a , ou=b", "cn=a+sn=b,o=x", "sn=b+cn=a,o=x", "cn=a\\,b,o=x", "cn=a\\2cb,ou=x\\+y,o=z",
                    "cn=\\ lead,o=x", "cn=trail\\ ,o=x", "cn=#04024869,o=x", "cn=caf\xc3\xa9,o=x",
                    "2.5.4.3=oid,o=x", "cn=a,2.5.4.10=lab",
                    // not DNs
                    "cn=a,", "cn=a,,o=x", "cn=a;ou=b", "cn=\"q\",o=x", "cn", "=a,o=x", "cn=a,o", "cn=a, ,o=x",
                    ",o=x", "cn=a,o=x,", "cn=a\\", "cn=\xff,o=x", " ", "cn=a,  "));

// More parents than the simulator remembers, in turn: each DN still gets
// its own parent's form.
TEST(DnNormalForm, ManyParentsInTurn)
{
    for (int round = 0; round < 3; ++round)
        for (int p = 0; p < 20; ++p)
            expect_as_libldap("cn=Entry" + std::to_string(round) + ",ou=Part" + std::to_string(p) + ",o=Lab");
}

// The same parent text first in a DN that does not read, then in one that does.
TEST(DnNormalForm, ParentRememberedOnlyWhenTheDnReads)
{
    expect_as_libldap("cn=a,,ou=p,o=x");
    expect_as_libldap("cn=a,ou=p,o=x");
    expect_as_libldap("cn=a,ou=p,o=x,");
}

}  // namespace
