// Controls end to end against the simulator: a persistent search watching
// another connection's changes, proxied authorisation, and the directory's
// status, reference and effective-privileges controls.
#include <dirext.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_session.h"

namespace {

using ldaptest::Control;
using ldaptest::Controls;
using simsession::Ldap;
using simsession::Message;

// ---- persistent search ----

class PersistentSearch : public simsession::SimTest {
protected:
    // Starts a persistent search under ou=people,o=lab on the fixture's session.
    int watch(int change_types, int changes_only, int return_ecs)
    {
        LDAPControl *raw = nullptr;
        EXPECT_EQ(ldap_create_persistentsearch_control(ld(), change_types, changes_only, return_ecs, 1, &raw),
                  LDAP_SUCCESS);
        Control control(raw);
        LDAPControl *server_controls[] = {control.get(), nullptr};
        int msgid = -1;
        EXPECT_EQ(ldap_search_ext(ld(), "ou=people,o=lab", LDAP_SCOPE_SUBTREE, "(objectClass=*)", nullptr, 0,
                                  server_controls, nullptr, nullptr, 0, &msgid),
                  LDAP_SUCCESS);
        return msgid;
    }

    struct Change {
        std::string dn;
        int type = 0;
        std::string prev_dn;
        int present = -1;
        int number = -1;
        int rc = 0;
    };

    // The next entry the search sends, within 5 s.
    bool next(int msgid, Change &out)
    {
        LDAPMessage *raw = nullptr;
        timeval timeout{5, 0};
        if (ldap_result(ld(), msgid, LDAP_MSG_ONE, &timeout, &raw) <= 0) return false;
        Message res(raw);
        if (ldap_msgtype(res.get()) != LDAP_RES_SEARCH_ENTRY) return false;
        char *dn = ldap_get_dn(ld(), res.get());
        out.dn = dn ? dn : "";
        ldap_memfree(dn);
        LDAPControl **raw_controls = nullptr;
        EXPECT_EQ(ldap_get_entry_controls(ld(), res.get(), &raw_controls), LDAP_SUCCESS);
        Controls controls(raw_controls);
        char *prev = nullptr;
        out.rc = ldap_parse_entrychange_control(ld(), controls.get(), &out.type, &prev, &out.present, &out.number);
        out.prev_dn = prev ? prev : "";
        ldap_memfree(prev);
        return true;
    }
};

TEST_F(PersistentSearch, SeesAnotherConnectionsChanges)
{
    const int msgid = watch(LDAP_CONTROL_PERSIST_ENTRY_CHANGE_ADD | LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE |
                                LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY | LDAP_CONTROL_PERSIST_ENTRY_CHANGE_RENAME,
                            1, 1);
    ASSERT_GT(msgid, 0);
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 5000));
    const auto request = logged("search").at(0);
    ASSERT_EQ(request.control_details.size(), 1u);
    EXPECT_EQ(request.control_details[0].oid, "2.16.840.1.113730.3.4.3");
    EXPECT_TRUE(request.control_details[0].critical);
    EXPECT_EQ(request.control_details[0].value_hex, "300902010f0101ff0101ff");

    Ldap other = simsession::open(server_->url());
    ASSERT_TRUE(other);
    ASSERT_EQ(ldaptest::add_person(other.get(), "cn=Dana,ou=people,o=lab", "Dana"), LDAP_SUCCESS);

    Change change;
    ASSERT_TRUE(next(msgid, change));
    EXPECT_EQ(change.rc, LDAP_SUCCESS);
    EXPECT_EQ(change.dn, "cn=Dana,ou=people,o=lab");
    EXPECT_EQ(change.type, LDAP_CONTROL_PERSIST_ENTRY_CHANGE_ADD);
    EXPECT_EQ(change.prev_dn, "");
    EXPECT_EQ(change.present, 1);

    ASSERT_EQ(ldap_rename_s(other.get(), "cn=Dana,ou=people,o=lab", "cn=Dana Ross", nullptr, 1, nullptr, nullptr),
              LDAP_SUCCESS);
    ASSERT_TRUE(next(msgid, change));
    EXPECT_EQ(change.dn, "cn=Dana Ross,ou=people,o=lab");
    EXPECT_EQ(change.type, LDAP_CONTROL_PERSIST_ENTRY_CHANGE_RENAME);
    EXPECT_EQ(change.prev_dn, "cn=Dana,ou=people,o=lab");
    const int rename_number = change.number;

    ASSERT_EQ(ldap_delete_ext_s(other.get(), "cn=Bob Jones,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_TRUE(next(msgid, change));
    EXPECT_EQ(change.dn, "cn=Bob Jones,ou=people,o=lab");
    EXPECT_EQ(change.type, LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE);
    EXPECT_GT(change.number, rename_number);

    // Outside the base: nothing comes.
    ASSERT_EQ(ldap_delete_ext_s(other.get(), "ou=bulk,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    LDAPMessage *raw = nullptr;
    timeval short_wait{0, 300 * 1000};
    EXPECT_EQ(ldap_result(ld(), msgid, LDAP_MSG_ONE, &short_wait, &raw), 0);

    // The abandon ends it; the simulator hears it.
    const size_t before = server_->requests().size();
    EXPECT_EQ(ldap_abandon_ext(ld(), msgid, nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_TRUE(server_->wait_for_requests(before + 1, 5000));
    EXPECT_EQ(logged("abandon").at(0).detail, "msgid=" + std::to_string(msgid));
    // The session goes on with ordinary requests.
    LDAPMessage *found = nullptr;
    EXPECT_EQ(ldap_url_search_s(ld(), "ldap:///o=lab??base", 0, &found), LDAP_SUCCESS);
    ldap_msgfree(found);
}

TEST_F(PersistentSearch, InitialEntriesAndChangeTypeSelection)
{
    // Not changes only: the current entries first, without notification
    // controls; then only the selected kind (modify) of change.
    const int msgid = watch(LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY, 0, 1);
    std::vector<std::string> initial;
    Change change;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(next(msgid, change));
        EXPECT_EQ(change.rc, LDAP_CONTROL_NOT_FOUND);
        initial.push_back(change.dn);
    }
    EXPECT_EQ(initial, (std::vector<std::string>{"ou=people,o=lab", "cn=Alice Smith,ou=people,o=lab",
                                                 "cn=Bob Jones,ou=people,o=lab"}));
    Ldap other = simsession::open(server_->url());
    ASSERT_EQ(ldap_delete_ext_s(other.get(), "cn=Bob Jones,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    char type[] = "description", text[] = "changed";
    char *values[] = {text, nullptr};
    LDAPMod mod{LDAP_MOD_REPLACE, type, {values}};
    LDAPMod *mods[] = {&mod, nullptr};
    ASSERT_EQ(ldap_modify_ext_s(other.get(), "cn=Alice Smith,ou=people,o=lab", mods, nullptr, nullptr),
              LDAP_SUCCESS);
    ASSERT_TRUE(next(msgid, change));  // the delete was not asked for
    EXPECT_EQ(change.dn, "cn=Alice Smith,ou=people,o=lab");
    EXPECT_EQ(change.type, LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY);
    ldap_abandon_ext(ld(), msgid, nullptr, nullptr);
}

TEST_F(PersistentSearch, WithoutNotificationControls)
{
    const int msgid = watch(LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE, 1, 0);
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 5000));
    Ldap other = simsession::open(server_->url());
    ASSERT_EQ(ldap_delete_ext_s(other.get(), "cn=Bob Jones,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    Change change;
    ASSERT_TRUE(next(msgid, change));
    EXPECT_EQ(change.dn, "cn=Bob Jones,ou=people,o=lab");
    EXPECT_EQ(change.rc, LDAP_CONTROL_NOT_FOUND);
    ldap_abandon_ext(ld(), msgid, nullptr, nullptr);
}

// ---- proxied authorisation ----

class ProxiedAuthorisation : public simsession::SimTest {
protected:
    // "Who am I?" on ld, with the controls given.
    std::string who(LDAP *session, LDAPControl **controls, int *rc)
    {
        berval *value = nullptr;
        *rc = ldap_extended_operation_s(session, "1.3.6.1.4.1.4203.1.11.3", nullptr, controls, nullptr, nullptr,
                                        &value);
        std::string out = value && value->bv_val ? std::string(value->bv_val, value->bv_len) : "";
        ber_bvfree(value);
        return out;
    }
};

TEST_F(ProxiedAuthorisation, OperationRunsAsTheGivenIdentity)
{
    int rc = -1;
    EXPECT_EQ(who(ld(), nullptr, &rc), "dn:cn=admin,o=lab");
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_proxyauth_control(ld(), "dn:cn=Alice Smith,ou=people,o=lab", &raw), LDAP_SUCCESS);
    Control control(raw);
    LDAPControl *controls[] = {control.get(), nullptr};
    EXPECT_EQ(who(ld(), controls, &rc), "dn:cn=Alice Smith,ou=people,o=lab");
    EXPECT_EQ(rc, LDAP_SUCCESS);
    // Only that operation: the session is still the administrator's.
    EXPECT_EQ(who(ld(), nullptr, &rc), "dn:cn=admin,o=lab");

    ASSERT_EQ(ldap_create_proxyauth_control(ld(), "u:alice", &raw), LDAP_SUCCESS);
    control.reset(raw);
    controls[0] = control.get();
    EXPECT_EQ(who(ld(), controls, &rc), "dn:cn=Alice Smith,ou=people,o=lab");

    auto request = logged("extended").at(1);
    ASSERT_EQ(request.control_details.size(), 1u);
    EXPECT_TRUE(request.control_details[0].critical);
    EXPECT_EQ(request.control_details[0].value_hex, simsession::hex("dn:cn=Alice Smith,ou=people,o=lab"));
}

TEST_F(ProxiedAuthorisation, Refusals)
{
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_proxyauth_control(ld(), "dn:cn=Nobody,o=lab", &raw), LDAP_SUCCESS);
    Control unknown(raw);
    LDAPControl *controls[] = {unknown.get(), nullptr};
    int rc = -1;
    who(ld(), controls, &rc);
    EXPECT_EQ(rc, 123);  // authorizationDenied

    ASSERT_EQ(ldap_create_proxyauth_control(ld(), "dn:cn=admin,o=lab", &raw), LDAP_SUCCESS);
    Control admin(raw);
    Ldap anonymous = simsession::open(server_->url(), nullptr);
    ASSERT_TRUE(anonymous);
    controls[0] = admin.get();
    who(anonymous.get(), controls, &rc);
    EXPECT_EQ(rc, 123);
}

// ---- the directory's own controls ----

class DirectoryControls : public simsession::SimTest {
protected:
    // A base search of dn with the controls; the response controls of its result.
    Controls search(const char *dn, LDAPControl **controls, int *code)
    {
        LDAPMessage *raw = nullptr;
        *code = ldap_search_ext_s(ld(), dn, LDAP_SCOPE_BASE, nullptr, nullptr, 0, controls, nullptr, nullptr, 0, &raw);
        Message res(raw);
        LDAPControl **response = nullptr;
        int err = -1;
        if (res) {
            EXPECT_EQ(ldap_parse_result(ld(), res.get(), &err, nullptr, nullptr, nullptr, &response, 0),
                      LDAP_SUCCESS);
        }
        return Controls(response);
    }
};

TEST_F(DirectoryControls, StatusAnswersTheNumbersAskedFor)
{
    LDAPStatusRequest status{1, 1, LDAPX_STATUS_UNSET, 1, 0, LDAPX_STATUS_UNSET, 1};
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_sstatus_control(ld(), &status, 1, &raw), LDAP_SUCCESS);
    Control control(raw);
    LDAPControl *controls[] = {control.get(), nullptr};
    int code = -1;
    Controls response = search("o=lab", controls, &code);
    ASSERT_EQ(code, LDAP_SUCCESS);
    int v[4] = {-1, -1, -1, -1};
    ASSERT_EQ(ldap_parse_sstatus_control(ld(), response.get(), &v[0], &v[1], &v[2], &v[3]), LDAP_SUCCESS);
    EXPECT_GE(v[0], 6);   // entries in the tree
    EXPECT_EQ(v[1], 1);   // bound
    EXPECT_EQ(v[2], -1);  // not asked for
    EXPECT_EQ(v[3], logged("search").at(0).msgid);
    EXPECT_EQ(logged("search").at(0).control_details.at(0).value_hex, "300f8001ff8101ff8301ff8401008601ff");

    // One entry more, one more counted.
    ASSERT_EQ(ldap_delete_ext_s(ld(), "ou=bulk,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    response = search("o=lab", controls, &code);
    int after = -1;
    ASSERT_EQ(ldap_parse_sstatus_control(ld(), response.get(), &after, nullptr, nullptr, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(after, v[0] - 1);
}

TEST_F(DirectoryControls, ReferenceDescribesTheTarget)
{
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_reference_control(ld(), 0, &raw), LDAP_SUCCESS);
    Control control(raw);
    LDAPControl *controls[] = {control.get(), nullptr};
    int code = -1;
    Controls response = search("ou=people,o=lab", controls, &code);
    ASSERT_EQ(code, LDAP_SUCCESS);
    char *s1 = nullptr, *s3 = nullptr, *s6 = nullptr, **list5 = nullptr;
    int i2 = -1, i4 = -1;
    ASSERT_EQ(ldap_parse_reference_control(ld(), response.get(), &s1, &i2, &s3, &i4, &list5, &s6), LDAP_SUCCESS);
    EXPECT_STREQ(s1, "ou=people,o=lab");
    EXPECT_EQ(i2, 2);
    EXPECT_STREQ(s3, "o=lab");
    EXPECT_EQ(i4, 2);
    ASSERT_NE(list5, nullptr);
    EXPECT_STREQ(list5[0], "cn=Alice Smith,ou=people,o=lab");
    EXPECT_STREQ(list5[1], "cn=Bob Jones,ou=people,o=lab");
    EXPECT_EQ(list5[2], nullptr);
    EXPECT_EQ(std::string(s6), server_->url());
    ldap_memfree(s1);
    ldap_memfree(s3);
    ldap_memfree(s6);
    ldap_value_free(list5);
    EXPECT_FALSE(logged("search").at(0).control_details.at(0).has_value);
}

TEST_F(DirectoryControls, EffectivePrivilegesAreCheckedForTheirFormat)
{
    LDAPEffectivePrivilegesItem cn{"cn", nullptr}, sn{nullptr, "sn"};
    LDAPEffectivePrivilegesItem *items[] = {&cn, &sn, nullptr};
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_geteffective_control(ld(), items, 2, 1, &raw), LDAP_SUCCESS);
    Control control(raw);
    LDAPControl *controls[] = {control.get(), nullptr};
    int code = -1;
    search("o=lab", controls, &code);
    EXPECT_EQ(code, LDAP_SUCCESS);
    EXPECT_EQ(logged("search").at(0).control_details.at(0).value_hex, "300a81088002636e8102736e");

    // The same OID with a value of another shape is refused.
    char oid[] = "2.16.840.1.113719.1.27.101.33";
    char bad_value[] = "\x30\x03\x02\x01\x01";
    LDAPControl bad{oid, {5, bad_value}, 1};
    LDAPControl *bad_controls[] = {&bad, nullptr};
    search("o=lab", bad_controls, &code);
    EXPECT_EQ(code, LDAP_PROTOCOL_ERROR);
}

}  // namespace
