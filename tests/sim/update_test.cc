// Modify, add, delete, compare and the limber trigger against the tree.
#include <thread>

#include "sim_client.h"

namespace simtest {
namespace {

using Values = std::vector<std::string>;

// One modification; values as given (none: the whole attribute).
struct Mod {
    int op;
    std::string attr;
    Values values;
};

int modify(LDAP *ld, const std::string &dn, const std::vector<Mod> &mods)
{
    std::vector<std::vector<berval>> storage(mods.size());
    std::vector<std::vector<berval *>> pointers(mods.size());
    std::vector<LDAPMod> built(mods.size());
    std::vector<LDAPMod *> list;
    for (size_t i = 0; i < mods.size(); ++i) {
        for (const auto &v : mods[i].values) storage[i].push_back({v.size(), const_cast<char *>(v.data())});
        for (auto &bv : storage[i]) pointers[i].push_back(&bv);
        pointers[i].push_back(nullptr);
        built[i].mod_op = mods[i].op | LDAP_MOD_BVALUES;
        built[i].mod_type = const_cast<char *>(mods[i].attr.c_str());
        built[i].mod_bvalues = mods[i].values.empty() ? nullptr : pointers[i].data();
        list.push_back(&built[i]);
    }
    list.push_back(nullptr);
    return ldap_modify_ext_s(ld, dn.c_str(), list.data(), nullptr, nullptr);
}

const Values kInitial{"0$cn$0$0$1$1$cn", "0$idx1$2$0$0$1$sn"};

struct ModifyCase {
    const char *name;
    std::string dn;
    std::vector<Mod> mods;
    int expected;
    Values after;  // indexDefinition of the server object afterwards
};

void PrintTo(const ModifyCase &c, std::ostream *os) { *os << c.name; }

class DirsimModify : public DirsimTest, public ::testing::WithParamInterface<ModifyCase> {};

TEST_P(DirsimModify, AllOrNothing)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(modify(ld.get(), GetParam().dn, GetParam().mods), GetParam().expected);
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition"), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DirsimModify,
    ::testing::Values(
        ModifyCase{"AddValue", kServerDn, {{LDAP_MOD_ADD, "indexDefinition", {"0$x$2$0$0$1$mail"}}}, LDAP_SUCCESS,
                   {"0$cn$0$0$1$1$cn", "0$idx1$2$0$0$1$sn", "0$x$2$0$0$1$mail"}},
        ModifyCase{"AddPresentValueIs20", kServerDn, {{LDAP_MOD_ADD, "indexDefinition", {"0$CN$0$0$1$1$CN"}}},
                   LDAP_TYPE_OR_VALUE_EXISTS, kInitial},
        ModifyCase{"AddSameValueTwiceIs20", kServerDn, {{LDAP_MOD_ADD, "indexDefinition", {"a", "A"}}},
                   LDAP_TYPE_OR_VALUE_EXISTS, kInitial},
        ModifyCase{"DeleteValueIgnoresCase", kServerDn, {{LDAP_MOD_DELETE, "INDEXDEFINITION", {"0$IDX1$2$0$0$1$SN"}}},
                   LDAP_SUCCESS, {"0$cn$0$0$1$1$cn"}},
        ModifyCase{"DeleteAbsentValueIs16", kServerDn, {{LDAP_MOD_DELETE, "indexDefinition", {"0$nope$0$0$0$1$x"}}},
                   LDAP_NO_SUCH_ATTRIBUTE, kInitial},
        ModifyCase{"DeleteAbsentAttributeIs16", kServerDn, {{LDAP_MOD_DELETE, "mail", {}}}, LDAP_NO_SUCH_ATTRIBUTE,
                   kInitial},
        ModifyCase{"DeleteWholeAttribute", kServerDn, {{LDAP_MOD_DELETE, "indexDefinition", {}}}, LDAP_SUCCESS, {}},
        ModifyCase{"DeleteLastValuesRemovesAttribute", kServerDn,
                   {{LDAP_MOD_DELETE, "indexDefinition", kInitial}}, LDAP_SUCCESS, {}},
        ModifyCase{"Replace", kServerDn, {{LDAP_MOD_REPLACE, "indexDefinition", {"v"}}}, LDAP_SUCCESS, {"v"}},
        ModifyCase{"ReplaceWithNothingRemoves", kServerDn, {{LDAP_MOD_REPLACE, "indexDefinition", {}}},
                   LDAP_SUCCESS, {}},
        ModifyCase{"UnknownEntryIs32", "cn=server9,ou=servers,o=lab",
                   {{LDAP_MOD_ADD, "indexDefinition", {"v"}}}, LDAP_NO_SUCH_OBJECT, kInitial},
        // The state change of suspend/resume: delete old, add new, in one request.
        ModifyCase{"DeleteThenAdd", kServerDn,
                   {{LDAP_MOD_DELETE, "indexDefinition", {"0$idx1$2$0$0$1$sn"}},
                    {LDAP_MOD_ADD, "indexDefinition", {"0$idx1$1$0$0$1$sn"}}},
                   LDAP_SUCCESS, {"0$cn$0$0$1$1$cn", "0$idx1$1$0$0$1$sn"}},
        ModifyCase{"FirstChangeUndoneWhenSecondFails", kServerDn,
                   {{LDAP_MOD_ADD, "indexDefinition", {"0$new$2$0$0$1$cn"}},
                    {LDAP_MOD_DELETE, "indexDefinition", {"0$absent$0$0$0$1$cn"}}},
                   LDAP_NO_SUCH_ATTRIBUTE, kInitial},
        ModifyCase{"EarlierDeleteUndoneWhenLaterAddFails", kServerDn,
                   {{LDAP_MOD_DELETE, "indexDefinition", {"0$idx1$2$0$0$1$sn"}},
                    {LDAP_MOD_ADD, "indexDefinition", {"0$cn$0$0$1$1$cn"}}},
                   LDAP_TYPE_OR_VALUE_EXISTS, kInitial},
        ModifyCase{"RemovingTheRdnValueIs67", kServerDn, {{LDAP_MOD_DELETE, "cn", {"server1"}}},
                   LDAP_NOT_ALLOWED_ON_RDN, kInitial}),
    [](const auto &info) { return std::string(info.param.name); });

int add_entry(LDAP *ld, const std::string &dn, const char *cn)
{
    char *classes[] = {const_cast<char *>("person"), nullptr};
    char *names[] = {const_cast<char *>(cn), nullptr};
    LDAPMod oc{}, name{};
    oc.mod_op = name.mod_op = LDAP_MOD_ADD;
    oc.mod_type = const_cast<char *>("objectClass");
    oc.mod_values = classes;
    name.mod_type = const_cast<char *>("cn");
    name.mod_values = names;
    LDAPMod *mods[] = {&oc, &name, nullptr};
    return ldap_add_ext_s(ld, dn.c_str(), mods, nullptr, nullptr);
}

TEST_F(DirsimTest, AddAndDeleteEntries)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(add_entry(ld.get(), "cn=carol,ou=people,o=lab", "carol"), LDAP_SUCCESS);
    EXPECT_TRUE(server_->exists("CN=Carol,OU=People,O=Lab"));
    EXPECT_EQ(add_entry(ld.get(), "cn=carol,ou=people,o=lab", "carol"), LDAP_ALREADY_EXISTS);
    EXPECT_EQ(add_entry(ld.get(), "cn=dave,ou=nowhere,o=lab", "dave"), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(add_entry(ld.get(), "cn=erin,ou=people,o=lab", "not erin"), LDAP_NAMING_VIOLATION);
    EXPECT_FALSE(server_->exists("cn=erin,ou=people,o=lab"));

    EXPECT_EQ(ldap_delete_ext_s(ld.get(), "ou=people,o=lab", nullptr, nullptr), LDAP_NOT_ALLOWED_ON_NONLEAF);
    EXPECT_EQ(ldap_delete_ext_s(ld.get(), "cn=nobody,o=lab", nullptr, nullptr), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_delete_ext_s(ld.get(), "cn=Carol,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    EXPECT_FALSE(server_->exists("cn=carol,ou=people,o=lab"));

    ldap_rename_s(ld.get(), "cn=nobody,o=lab", "cn=root", nullptr, 1, nullptr, nullptr);
    auto log = server_->requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().op, "modrdn");
    EXPECT_EQ(log.back().detail, "newrdn=cn=root deleteoldrdn=1");
}

TEST_F(DirsimTest, Compare)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    berval smith{5, const_cast<char *>("SMITH")}, other{5, const_cast<char *>("Jones")};
    const char *alice = "cn=Alice Smith,ou=people,o=lab";
    EXPECT_EQ(ldap_compare_ext_s(ld.get(), alice, "sn", &smith, nullptr, nullptr), LDAP_COMPARE_TRUE);
    EXPECT_EQ(ldap_compare_ext_s(ld.get(), alice, "sn", &other, nullptr, nullptr), LDAP_COMPARE_FALSE);
    EXPECT_EQ(ldap_compare_ext_s(ld.get(), alice, "mail", &other, nullptr, nullptr), LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(ldap_compare_ext_s(ld.get(), "cn=x,o=lab", "sn", &other, nullptr, nullptr), LDAP_NO_SUCH_OBJECT);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].detail, "sn=SMITH");
    EXPECT_EQ(log[0].value_hex, "534d495448");
}

TEST_F(DirsimTest, LimberBringsPendingStatesOnlineAndNothingElse)
{
    server_->set_values(kServerDn, "indexDefinition",
                        {"0$online$0$0$0$1$cn", "0$offline$1$0$0$1$cn", "0$pending$2$0$0$1$cn",
                         "0$resumed$3$2$0$1$cn$sn", "10$longVersion$3$0$0$1$cn", "0$state$22$0$0$1$cn",
                         "0$short$2", "0$noState", "0$empty$$0$0$1$cn", "0$$2$0$0$1$cn"});
    server_->set_values("ou=servers,o=lab", "indexDefinition", {"0$other$2$1$0$1$mail"});
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), kLimber);
    EXPECT_EQ(r.rc, LDAP_SUCCESS);
    EXPECT_EQ(r.oid, "2.16.840.1.113719.1.27.100.50");
    EXPECT_FALSE(r.value);
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition"),
              (Values{"0$online$0$0$0$1$cn", "0$offline$1$0$0$1$cn", "0$pending$0$0$0$1$cn",
                      "0$resumed$0$2$0$1$cn$sn", "10$longVersion$0$0$0$1$cn", "0$state$22$0$0$1$cn", "0$short$0",
                      "0$noState", "0$empty$$0$0$1$cn", "0$$0$0$0$1$cn"}));
    EXPECT_EQ(server_->values("ou=servers,o=lab", "indexDefinition"), Values{"0$other$0$1$0$1$mail"});
}

TEST_F(DirsimTest, LimberDoesNotLeaveTheSameValueTwice)
{
    server_->set_values(kServerDn, "indexDefinition", {"0$a$0$0$0$1$cn", "0$a$2$0$0$1$cn"});
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_SUCCESS);
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition"), Values{"0$a$0$0$0$1$cn"});
}

TEST_F(DirsimTest, UnknownExtendedOperationIsProtocolErrorWithoutName)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), "1.3.6.1.4.1.32473.99");
    EXPECT_EQ(r.rc, LDAP_PROTOCOL_ERROR);
    EXPECT_FALSE(r.oid);
    EXPECT_FALSE(r.value);
    EXPECT_EQ(diagnostic(ld.get()), "unsupported extended operation");
}

TEST_F(DirsimTest, ConcurrentModifiesAllLand)
{
    constexpr int kClients = 4, kEach = 10;
    // Sessions open here: libldap's first-use initialisation is not meant to race.
    std::vector<Ldap> sessions;
    for (int c = 0; c < kClients; ++c) {
        sessions.push_back(open_session(server_->url()));
        ASSERT_TRUE(sessions.back());
    }
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&sessions, c] {
            LDAP *ld = sessions[c].get();
            ASSERT_EQ(simple_bind(ld, kAdminDn, "secret"), LDAP_SUCCESS);
            for (int i = 0; i < kEach; ++i) {
                std::string v = "0$c" + std::to_string(c) + "i" + std::to_string(i) + "$2$0$0$1$cn";
                EXPECT_EQ(modify(ld, kServerDn, {{LDAP_MOD_ADD, "indexDefinition", {v}}}), LDAP_SUCCESS);
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition").size(), kInitial.size() + kClients * kEach);
}

}  // namespace
}  // namespace simtest
