// Binds and searches against the simulator's tree, through libldap.
#include <algorithm>
#include <map>

#include "sim_client.h"

namespace simtest {
namespace {

struct BindCase {
    const char *name;
    const char *dn;
    const char *password;
    int expected;
};

void PrintTo(const BindCase &c, std::ostream *os) { *os << c.name; }

class DirsimBind : public DirsimTest, public ::testing::WithParamInterface<BindCase> {};

TEST_P(DirsimBind, AnswersWithTheRealServersCode)
{
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    EXPECT_EQ(simple_bind(ld.get(), GetParam().dn, GetParam().password), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Simple, DirsimBind,
    ::testing::Values(BindCase{"Admin", kAdminDn, "secret", LDAP_SUCCESS},
                      BindCase{"DnInOtherCaseAndSpacing", "CN=Admin, O=LAB", "secret", LDAP_SUCCESS},
                      BindCase{"WrongPassword", kAdminDn, "Secret", LDAP_INVALID_CREDENTIALS},
                      BindCase{"UnknownDn", "cn=nobody,o=lab", "secret", LDAP_INVALID_CREDENTIALS},
                      BindCase{"EntryWithoutPassword", "ou=people,o=lab", "x", LDAP_INVALID_CREDENTIALS},
                      BindCase{"Anonymous", "", "", LDAP_SUCCESS},
                      BindCase{"DnWithoutPassword", kAdminDn, "", LDAP_UNWILLING_TO_PERFORM},
                      BindCase{"NotADn", "no equals sign", "x", LDAP_INVALID_DN_SYNTAX}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(DirsimTest, UnsupportedSaslMechanismIsAuthMethodNotSupported)
{
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    berval creds{3, const_cast<char *>("abc")};
    berval *server_creds = nullptr;
    EXPECT_EQ(ldap_sasl_bind_s(ld.get(), "", "X-NOSUCH", &creds, nullptr, nullptr, &server_creds),
              LDAP_AUTH_METHOD_NOT_SUPPORTED);
    ber_bvfree(server_creds);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].detail, "sasl X-NOSUCH");
    EXPECT_TRUE(log[0].has_value);
    EXPECT_EQ(log[0].value_hex, "616263");
}

struct Found {
    int rc = -1;
    std::string matched;
    std::vector<std::string> dns;
    std::map<std::string, std::map<std::string, std::vector<std::string>>> entries;
};

Found search(LDAP *ld, const std::string &base, int scope, const char *filter, std::vector<const char *> attrs = {},
             int types_only = 0, int size_limit = 0)
{
    Found f;
    LDAPMessage *res = nullptr;
    attrs.push_back(nullptr);
    int rc = ldap_search_ext_s(ld, base.c_str(), scope, filter, attrs.size() > 1 ? const_cast<char **>(attrs.data()) : nullptr,
                               types_only, nullptr, nullptr, nullptr, size_limit, &res);
    std::unique_ptr<LDAPMessage, int (*)(LDAPMessage *)> guard(res, ldap_msgfree);
    for (LDAPMessage *e = ldap_first_entry(ld, res); e; e = ldap_next_entry(ld, e)) {
        char *dn = ldap_get_dn(ld, e);
        f.dns.push_back(dn ? dn : "");
        auto &attrs_out = f.entries[f.dns.back()];
        ldap_memfree(dn);
        BerElement *ber = nullptr;
        for (char *a = ldap_first_attribute(ld, e, &ber); a; a = ldap_next_attribute(ld, e, ber)) {
            auto &values = attrs_out[a];
            berval **vals = ldap_get_values_len(ld, e, a);
            for (int i = 0; vals && vals[i]; ++i) values.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
            ldap_value_free_len(vals);
            ldap_memfree(a);
        }
        ber_free(ber, 0);
    }
    char *matched = nullptr;
    int err = rc;
    if (res) ldap_parse_result(ld, res, &err, &matched, nullptr, nullptr, nullptr, 0);
    f.rc = err;
    f.matched = matched ? matched : "";
    ldap_memfree(matched);
    return f;
}

struct SearchCase {
    const char *name;
    const char *base;
    int scope;
    const char *filter;
    std::vector<std::string> dns;
};

void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.name; }

class DirsimSearch : public DirsimTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(DirsimSearch, ReturnsTheMatchingEntriesInTreeOrder)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    Found f = search(ld.get(), GetParam().base, GetParam().scope, GetParam().filter, {"1.1"});
    EXPECT_EQ(f.rc, LDAP_SUCCESS);
    EXPECT_EQ(f.dns, GetParam().dns);
}

const char kAlice[] = "cn=Alice Smith,ou=people,o=lab";
const char kBob[] = "cn=Bob Jones,ou=people,o=lab";

INSTANTIATE_TEST_SUITE_P(
    ScopesAndFilters, DirsimSearch,
    ::testing::Values(
        SearchCase{"Base", "o=lab", LDAP_SCOPE_BASE, "(objectclass=*)", {"o=lab"}},
        SearchCase{"OneLevel", "o=lab", LDAP_SCOPE_ONELEVEL, "(objectclass=*)",
                   {kAdminDn, "ou=people,o=lab", "ou=servers,o=lab"}},
        SearchCase{"Subtree", "ou=people,o=lab", LDAP_SCOPE_SUBTREE, "(objectclass=*)",
                   {"ou=people,o=lab", kAlice, kBob}},
        SearchCase{"BaseInOtherCase", "OU=People,O=Lab", LDAP_SCOPE_BASE, "(ou=people)", {"ou=people,o=lab"}},
        SearchCase{"BaseFilterFalse", "o=lab", LDAP_SCOPE_BASE, "(cn=admin)", {}},
        SearchCase{"EqualityIgnoresCase", "o=lab", LDAP_SCOPE_SUBTREE, "(cn=ALICE smith)", {kAlice}},
        SearchCase{"ObjectClassAlwaysPresent", "o=lab", LDAP_SCOPE_SUBTREE, "(objectClass=person)",
                   {kAdminDn, kAlice, kBob}},
        SearchCase{"SubstringInitial", "o=lab", LDAP_SCOPE_SUBTREE, "(cn=al*)", {kAlice}},
        SearchCase{"SubstringFinal", "o=lab", LDAP_SCOPE_SUBTREE, "(cn=*JONES)", {kBob}},
        SearchCase{"SubstringAnyInOrder", "o=lab", LDAP_SCOPE_SUBTREE, "(cn=a*i*m*h)", {kAlice}},
        SearchCase{"SubstringAnyOutOfOrder", "o=lab", LDAP_SCOPE_SUBTREE, "(cn=*smith*alice*)", {}},
        SearchCase{"SubstringNoOverlap", "o=lab", LDAP_SCOPE_SUBTREE, "(sn=smi*ith)", {}},
        SearchCase{"EscapedValue", "o=lab", LDAP_SCOPE_SUBTREE, "(description=*\\28parens\\29*\\2astars\\2a)",
                   {kAlice}},
        SearchCase{"GreaterOrEqualIsNumeric", "o=lab", LDAP_SCOPE_SUBTREE, "(uidNumber>=100)", {kAlice}},
        SearchCase{"LessOrEqualIsNumeric", "o=lab", LDAP_SCOPE_SUBTREE, "(uidNumber<=99)", {kBob}},
        SearchCase{"GreaterOrEqualText", "o=lab", LDAP_SCOPE_SUBTREE, "(sn>=k)", {kAlice}},
        SearchCase{"Approx", "o=lab", LDAP_SCOPE_SUBTREE, "(sn~=jones)", {kBob}},
        SearchCase{"Present", "o=lab", LDAP_SCOPE_SUBTREE, "(uidNumber=*)", {kAlice, kBob}},
        SearchCase{"And", "o=lab", LDAP_SCOPE_SUBTREE, "(&(objectClass=person)(sn=smith))", {kAlice}},
        SearchCase{"Or", "o=lab", LDAP_SCOPE_SUBTREE, "(|(sn=smith)(ou=servers))", {kAlice, "ou=servers,o=lab"}},
        SearchCase{"NotOfAbsentIsTrue", "ou=people,o=lab", LDAP_SCOPE_SUBTREE, "(!(uidNumber=100))",
                   {"ou=people,o=lab", kBob}},
        SearchCase{"ExtensibleIsUndefined", "o=lab", LDAP_SCOPE_SUBTREE, "(cn:caseExactMatch:=admin)", {}},
        SearchCase{"NotOfUndefinedStaysUndefined", "o=lab", LDAP_SCOPE_SUBTREE, "(!(cn:caseExactMatch:=x))", {}},
        SearchCase{"RootSubtree", "", LDAP_SCOPE_ONELEVEL, "(objectclass=*)", {"o=lab"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(DirsimTest, UnknownBaseIsNoSuchObjectWithMatchedDn)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    Found f = search(ld.get(), "cn=x,cn=y,ou=people,o=lab", LDAP_SCOPE_SUBTREE, "(objectclass=*)");
    EXPECT_EQ(f.rc, LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(f.matched, "ou=people,o=lab");
    EXPECT_TRUE(f.dns.empty());
    f = search(ld.get(), "o=elsewhere", LDAP_SCOPE_BASE, "(objectclass=*)");
    EXPECT_EQ(f.rc, LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(f.matched, "");
}

TEST_F(DirsimTest, AttributeSelection)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    using Attrs = std::map<std::string, std::vector<std::string>>;
    Found f = search(ld.get(), kBob, LDAP_SCOPE_BASE, "(objectclass=*)", {"SN", "uidnumber"});
    EXPECT_EQ(f.entries[kBob], (Attrs{{"sn", {"Jones"}}, {"uidNumber", {"99"}}}));

    f = search(ld.get(), kBob, LDAP_SCOPE_BASE, "(objectclass=*)", {"1.1"});
    EXPECT_EQ(f.entries[kBob], Attrs{});

    Attrs all{{"objectClass", {"person"}}, {"cn", {"Bob Jones"}}, {"sn", {"Jones"}}, {"uidNumber", {"99"}}};
    f = search(ld.get(), kBob, LDAP_SCOPE_BASE, "(objectclass=*)");
    EXPECT_EQ(f.entries[kBob], all);
    f = search(ld.get(), kBob, LDAP_SCOPE_BASE, "(objectclass=*)", {"*"});
    EXPECT_EQ(f.entries[kBob], all);

    f = search(ld.get(), kBob, LDAP_SCOPE_BASE, "(objectclass=*)", {"sn", "cn"}, /*types_only=*/1);
    EXPECT_EQ(f.entries[kBob], (Attrs{{"cn", {}}, {"sn", {}}}));
}

TEST_F(DirsimTest, SizeLimitReturnsThatManyAndCode4)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    Found f = search(ld.get(), "o=lab", LDAP_SCOPE_SUBTREE, "(objectclass=*)", {"1.1"}, 0, 2);
    EXPECT_EQ(f.rc, LDAP_SIZELIMIT_EXCEEDED);
    EXPECT_EQ(f.dns, (std::vector<std::string>{"o=lab", kAdminDn}));
}

TEST_F(DirsimTest, RootDseNamesVersionContextsAndExtensions)
{
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    Found f = search(ld.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)",
                     {"supportedLDAPVersion", "namingContexts", "supportedExtension"});
    ASSERT_EQ(f.rc, LDAP_SUCCESS);
    ASSERT_EQ(f.dns, std::vector<std::string>{""});
    auto &dse = f.entries[""];
    EXPECT_EQ(dse["supportedLDAPVersion"], std::vector<std::string>{"3"});
    EXPECT_EQ(dse["namingContexts"], std::vector<std::string>{"o=lab"});
    const auto &extensions = dse["supportedExtension"];
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), kLimber), extensions.end());
}

}  // namespace
}  // namespace simtest
