// Request controls on bytes, response controls against crafted bytes, and
// the session result code each call leaves behind.
#include <dirext.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ber_bytes.h"
#include "ldap_handles.h"
#include "ldap_session.h"

namespace {

using extops_test::hex;
using extops_test::unhex;

using ldaptest::Control;

class Controls : public ::testing::Test {
protected:
    void SetUp() override
    {
        LDAP *raw = nullptr;
        // Never connected: the controls only need a session to report through.
        ASSERT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:9"), LDAP_SUCCESS);
        ld_.reset(raw);
    }

    int session_code() { return testsupport::session_code(ld_.get()); }
    void set_session_code(int rc) { ldap_set_option(ld_.get(), LDAP_OPT_RESULT_CODE, &rc); }

    static std::string value_hex(const LDAPControl &c)
    {
        return c.ldctl_value.bv_val ? hex(std::string(c.ldctl_value.bv_val, c.ldctl_value.bv_len)) : "(none)";
    }

    // A response-control array holding one control with raw value bytes.
    struct Array {
        std::string oid, bytes;
        LDAPControl control{};
        LDAPControl *list[3] = {};
        Array(std::string o, const std::string &hex_bytes, bool with_value = true)
            : oid(std::move(o)), bytes(unhex(hex_bytes))
        {
            control.ldctl_oid = oid.data();
            if (with_value) control.ldctl_value = {bytes.size(), bytes.data()};
            list[0] = &control;
        }
        LDAPControl **get() { return list; }
    };

    ldaptest::Ldap ld_;
};

// ---- creators ----

TEST_F(Controls, PersistentSearchValueAndCriticality)
{
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_persistentsearch_control(ld_.get(), 15, 1, 0, 1, &raw), LDAP_SUCCESS);
    Control c(raw);
    EXPECT_STREQ(c->ldctl_oid, "2.16.840.1.113730.3.4.3");
    EXPECT_EQ(value_hex(*c), "300902010f0101ff010100");
    EXPECT_NE(c->ldctl_iscritical, 0);
    EXPECT_EQ(session_code(), LDAP_SUCCESS);

    ASSERT_EQ(ldap_create_persistentsearch_control(ld_.get(), 8, 0, 7, 0, &raw), LDAP_SUCCESS);
    c.reset(raw);
    EXPECT_EQ(value_hex(*c), "30090201080101000101ff");
    EXPECT_EQ(c->ldctl_iscritical, 0);
}

TEST_F(Controls, ProxyAuthValueIsTheIdentityItself)
{
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_proxyauth_control(ld_.get(), "dn:uid=bob", &raw), LDAP_SUCCESS);
    Control c(raw);
    EXPECT_STREQ(c->ldctl_oid, "2.16.840.1.113730.3.4.18");
    EXPECT_EQ(std::string(c->ldctl_value.bv_val, c->ldctl_value.bv_len), "dn:uid=bob");
    EXPECT_EQ(c->ldctl_value.bv_len, 10u);
    EXPECT_EQ(c->ldctl_iscritical, 1);

    // The empty identity (anonymous) is a present, empty value.
    ASSERT_EQ(ldap_create_proxyauth_control(ld_.get(), "", &raw), LDAP_SUCCESS);
    c.reset(raw);
    ASSERT_NE(c->ldctl_value.bv_val, nullptr);
    EXPECT_EQ(c->ldctl_value.bv_len, 0u);
}

TEST_F(Controls, GetEffectiveSelectorOrItems)
{
    struct Case {
        int selector;
        std::vector<LDAPEffectivePrivilegesItem> items;
        const char *expected;
    };
    const std::vector<Case> cases = {
        {1, {}, "3003800101"},
        {0, {}, "3003800100"},
        {2, {{"cn", nullptr}, {nullptr, "sn"}}, "300a8108 8002636e 8102736e"},
        // first wins when both are set; an empty list is an empty [1]
        {7, {{"a", "b"}}, "30058103800161"},
        {3, {}, "30028100"},
        // the selector compares unsigned: a negative one sends the items
        {-1, {{nullptr, "x"}}, "30058103810178"},
    };
    for (const Case &tc : cases) {
        std::vector<LDAPEffectivePrivilegesItem> items = tc.items;
        std::vector<LDAPEffectivePrivilegesItem *> list;
        for (auto &i : items) list.push_back(&i);
        list.push_back(nullptr);
        LDAPControl *raw = nullptr;
        ASSERT_EQ(ldap_create_geteffective_control(ld_.get(), list.data(), tc.selector, 1, &raw), LDAP_SUCCESS);
        Control c(raw);
        EXPECT_STREQ(c->ldctl_oid, "2.16.840.1.113719.1.27.101.33");
        EXPECT_EQ(value_hex(*c), hex(unhex(tc.expected))) << "selector " << tc.selector;
        EXPECT_EQ(c->ldctl_iscritical, 1);
    }
    // With a selector of 0 or 1 the items are not needed.
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_geteffective_control(ld_.get(), nullptr, 1, 0, &raw), LDAP_SUCCESS);
    Control c(raw);
    EXPECT_EQ(c->ldctl_iscritical, 0);
}

TEST_F(Controls, StatusFieldsSentOnlyWhenSet)
{
    struct Case {
        LDAPStatusRequest status;
        const char *expected;
    };
    const uint32_t U = LDAPX_STATUS_UNSET;
    const std::vector<Case> cases = {
        {{1, 1, 1, 1, 1, 1, 1}, "3015 8001ff 8101ff 8201ff 8301ff 8401ff 8501ff 8601ff"},
        {{2, U, U, U, U, U, U}, "3000"},
        {{2, U, 5, U, U, U, U}, "3003 8201ff"},
        {{0, 7, 0, 1, U, 0, 2}, "300c 800100 820100 8301ff 850100"},
    };
    for (const Case &tc : cases) {
        LDAPControl *raw = nullptr;
        ASSERT_EQ(ldap_create_sstatus_control(ld_.get(), &tc.status, 0, &raw), LDAP_SUCCESS);
        Control c(raw);
        EXPECT_STREQ(c->ldctl_oid, "2.16.840.1.113719.1.27.101.40");
        EXPECT_EQ(value_hex(*c), hex(unhex(tc.expected)));
    }
}

TEST_F(Controls, ReferenceRequestHasNoValue)
{
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_reference_control(ld_.get(), 1, &raw), LDAP_SUCCESS);
    Control c(raw);
    EXPECT_STREQ(c->ldctl_oid, "2.16.840.1.113719.1.1.5150.101.1");
    EXPECT_EQ(c->ldctl_value.bv_val, nullptr);
    EXPECT_EQ(c->ldctl_iscritical, 1);
}

TEST_F(Controls, CreatorArgumentsAreChecked)
{
    LDAPControl *out = nullptr;
    LDAPStatusRequest status{};
    LDAPEffectivePrivilegesItem empty{nullptr, nullptr};
    LDAPEffectivePrivilegesItem *empty_list[] = {&empty, nullptr};
    set_session_code(LDAP_SUCCESS);
    // A null session: -9, nothing stored.
    EXPECT_EQ(ldap_create_persistentsearch_control(nullptr, 1, 1, 1, 1, &out), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_create_proxyauth_control(nullptr, "dn:x", &out), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_create_geteffective_control(nullptr, nullptr, 1, 1, &out), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_create_sstatus_control(nullptr, &status, 1, &out), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_create_reference_control(nullptr, 1, &out), LDAP_PARAM_ERROR);
    EXPECT_EQ(session_code(), LDAP_SUCCESS);

    const std::vector<std::function<int()>> refused = {
        [&] { return ldap_create_persistentsearch_control(ld_.get(), 1, 1, 1, 1, nullptr); },
        [&] { return ldap_create_proxyauth_control(ld_.get(), nullptr, &out); },
        [&] { return ldap_create_proxyauth_control(ld_.get(), "dn:x", nullptr); },
        [&] { return ldap_create_geteffective_control(ld_.get(), nullptr, 2, 1, &out); },
        [&] { return ldap_create_geteffective_control(ld_.get(), empty_list, 2, 1, &out); },
        [&] { return ldap_create_geteffective_control(ld_.get(), nullptr, 0, 1, nullptr); },
        [&] { return ldap_create_sstatus_control(ld_.get(), nullptr, 1, &out); },
        [&] { return ldap_create_sstatus_control(ld_.get(), &status, 1, nullptr); },
        [&] { return ldap_create_reference_control(ld_.get(), 1, nullptr); },
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        set_session_code(LDAP_SUCCESS);
        EXPECT_EQ(refused[i](), LDAP_PARAM_ERROR) << "case " << i;
        EXPECT_EQ(session_code(), LDAP_PARAM_ERROR) << "case " << i;
    }
    EXPECT_EQ(out, nullptr);
}

// ---- entry change ----

constexpr const char kEntryChange[] = "2.16.840.1.113730.3.4.7";

// Without a place for the previous DN, the number after it is still found.
TEST_F(Controls, EntryChangeNumberFoundWithoutPreviousDn)
{
    Array ctrls(kEntryChange, "300e 0a0108 0406 636e3d6f6c64 800107");
    int type = 0, present = 0, number = 0;
    ASSERT_EQ(ldap_parse_entrychange_control(ld_.get(), ctrls.get(), &type, nullptr, &present, &number),
              LDAP_SUCCESS);
    EXPECT_EQ(present, 1);
    EXPECT_EQ(number, 7);
    // Without the number pair only the type is read.
    ASSERT_EQ(ldap_parse_entrychange_control(ld_.get(), ctrls.get(), &type, nullptr, nullptr, nullptr),
              LDAP_SUCCESS);
    EXPECT_EQ(type, 8);
}

TEST_F(Controls, EntryChangeArgumentsAndAbsence)
{
    Array ctrls(kEntryChange, "3003 0a0101");
    int type = 0, present = 0, number = 0;
    char *prev = nullptr;
    EXPECT_EQ(ldap_parse_entrychange_control(nullptr, ctrls.get(), &type, &prev, &present, &number),
              LDAP_PARAM_ERROR);
    set_session_code(0);
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), ctrls.get(), nullptr, &prev, &present, &number),
              LDAP_PARAM_ERROR);
    EXPECT_EQ(session_code(), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), ctrls.get(), &type, &prev, nullptr, &number),
              LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), ctrls.get(), &type, &prev, &present, nullptr),
              LDAP_PARAM_ERROR);

    prev = reinterpret_cast<char *>(1);
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), nullptr, &type, &prev, &present, &number),
              LDAP_CONTROL_NOT_FOUND);
    EXPECT_EQ(session_code(), LDAP_CONTROL_NOT_FOUND);
    EXPECT_EQ(prev, reinterpret_cast<char *>(1));  // checked before the array is looked at

    // Found only by the exact OID: a longer one sharing the prefix is another control.
    Array longer(std::string(kEntryChange) + "1", "3003 0a0101");
    set_session_code(0);
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), longer.get(), &type, &prev, &present, &number),
              LDAP_CONTROL_NOT_FOUND);
    EXPECT_EQ(prev, nullptr);
    EXPECT_EQ(session_code(), LDAP_CONTROL_NOT_FOUND);

    LDAPControl *none[] = {nullptr};
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), none, &type, &prev, &present, &number),
              LDAP_CONTROL_NOT_FOUND);
}

TEST_F(Controls, EntryChangeBadValues)
{
    for (const char *bad : {"", "30", "3003 0a01", "3005 0a0101 0406", "3005 0a0101 8001", "04 01 00"}) {
        Array ctrls(kEntryChange, bad);
        int type = 0, present = 0, number = 0;
        char *prev = nullptr;
        const int rc = ldap_parse_entrychange_control(ld_.get(), ctrls.get(), &type, &prev, &present, &number);
        ldap_memfree(prev);
        EXPECT_EQ(rc, LDAP_DECODING_ERROR) << bad;
        EXPECT_EQ(session_code(), LDAP_DECODING_ERROR);
    }
    Array no_value(kEntryChange, "", false);
    int type = 0;
    EXPECT_EQ(ldap_parse_entrychange_control(ld_.get(), no_value.get(), &type, nullptr, nullptr, nullptr),
              LDAP_DECODING_ERROR);
}

// ---- status ----

constexpr const char kStatus[] = "2.16.840.1.113719.1.27.101.40";

TEST_F(Controls, StatusResponseFailures)
{
    int v = 0;
    EXPECT_EQ(ldap_parse_sstatus_control(nullptr, nullptr, &v, &v, &v, &v), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_parse_sstatus_control(ld_.get(), nullptr, &v, &v, &v, &v), LDAP_CONTROL_NOT_FOUND);
    EXPECT_EQ(session_code(), LDAP_CONTROL_NOT_FOUND);
    Array other(kEntryChange, "3000");
    EXPECT_EQ(ldap_parse_sstatus_control(ld_.get(), other.get(), &v, &v, &v, &v), LDAP_CONTROL_NOT_FOUND);
    for (const char *bad : {"", "31", "3003 8001"}) {
        Array ctrls(kStatus, bad);
        EXPECT_EQ(ldap_parse_sstatus_control(ld_.get(), ctrls.get(), &v, &v, &v, &v), LDAP_DECODING_ERROR) << bad;
        EXPECT_EQ(session_code(), LDAP_DECODING_ERROR);
    }
}

// ---- reference ----

constexpr const char kReference[] = "2.16.840.1.113719.1.1.5150.101.1";

struct ReferenceOut {
    char *s1 = nullptr, *s3 = nullptr, *s6 = nullptr;
    int i2 = -1, i4 = -1;
    char **list5 = nullptr;
    ~ReferenceOut()
    {
        ldap_memfree(s1);
        ldap_memfree(s3);
        ldap_memfree(s6);
        ldap_value_free(list5);
    }
};

TEST_F(Controls, ReferenceResponseFields)
{
    // SET { [1] "a", [2] 2, [3] "c", [4] 4, [5] {"x","yz"}, [6] "f" }
    Array ctrls(kReference, "311b 810161 820102 810163 830163 840104 8507 040178 0402797a 860166");
    ReferenceOut out;
    ASSERT_EQ(ldap_parse_reference_control(ld_.get(), ctrls.get(), &out.s1, &out.i2, &out.s3, &out.i4, &out.list5,
                                           &out.s6),
              LDAP_SUCCESS);
    EXPECT_STREQ(out.s1, "c");  // sent twice: the last one counts (the first is released)
    EXPECT_EQ(out.i2, 2);
    EXPECT_STREQ(out.s3, "c");
    EXPECT_EQ(out.i4, 4);
    ASSERT_NE(out.list5, nullptr);
    EXPECT_STREQ(out.list5[0], "x");
    EXPECT_STREQ(out.list5[1], "yz");
    EXPECT_EQ(out.list5[2], nullptr);
    EXPECT_STREQ(out.s6, "f");
    EXPECT_EQ(session_code(), LDAP_SUCCESS);
}

TEST_F(Controls, ReferenceResponseOrderUnknownTagsAndSkippedFields)
{
    // Any order; an unknown element ([9]) is stepped over; absent fields are
    // left as they were; null pointers skip their fields.
    Array ctrls(kReference, "3111 860166 89020000 840104 a5050403616263");
    ReferenceOut out;
    char *keep = const_cast<char *>("untouched");
    char *s1 = keep;
    ASSERT_EQ(ldap_parse_reference_control(ld_.get(), ctrls.get(), &s1, nullptr, nullptr, &out.i4, &out.list5,
                                           &out.s6),
              LDAP_SUCCESS);
    EXPECT_EQ(s1, keep);
    EXPECT_EQ(out.i4, 4);
    EXPECT_STREQ(out.s6, "f");
    ASSERT_NE(out.list5, nullptr);
    EXPECT_STREQ(out.list5[0], "abc");

    Array empty(kReference, "3100");
    ASSERT_EQ(ldap_parse_reference_control(ld_.get(), empty.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr),
              LDAP_SUCCESS);
}

TEST_F(Controls, ReferenceResponseFailures)
{
    ReferenceOut out;
    EXPECT_EQ(ldap_parse_reference_control(nullptr, nullptr, &out.s1, &out.i2, &out.s3, &out.i4, &out.list5, &out.s6),
              LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_parse_reference_control(ld_.get(), nullptr, &out.s1, &out.i2, &out.s3, &out.i4, &out.list5,
                                           &out.s6),
              LDAP_CONTROL_NOT_FOUND);
    for (const char *bad : {"", "31", "3105 810361", "3103 8501 04"}) {
        Array ctrls(kReference, bad);
        EXPECT_EQ(ldap_parse_reference_control(ld_.get(), ctrls.get(), &out.s1, &out.i2, &out.s3, &out.i4,
                                               &out.list5, &out.s6),
                  LDAP_DECODING_ERROR)
            << bad;
        EXPECT_EQ(session_code(), LDAP_DECODING_ERROR);
    }
    // A field read before the failure stays the caller's.
    Array partial(kReference, "3105 810161 8202");
    ASSERT_EQ(ldap_parse_reference_control(ld_.get(), partial.get(), &out.s1, &out.i2, &out.s3, &out.i4, &out.list5,
                                           &out.s6),
              LDAP_DECODING_ERROR);
    EXPECT_STREQ(out.s1, "a");
}

}  // namespace
