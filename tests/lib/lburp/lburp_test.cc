// LBURP requests and responses against the simulator: the exact request
// values sent, crafted responses (scripted), and whole bulk loads.
#include <dirext.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ber_bytes.h"
#include "sim_session.h"

namespace {

using extops_test::L;
using extops_test::unhex;
using simsession::Message;
using simsession::result;
using simsession::session_code;

constexpr const char kStart[] = "2.16.840.1.113719.1.142.100.1";
constexpr const char kStartResponse[] = "2.16.840.1.113719.1.142.100.2";
constexpr const char kEnd[] = "2.16.840.1.113719.1.142.100.4";
constexpr const char kEndResponse[] = "2.16.840.1.113719.1.142.100.5";
constexpr const char kUpdate[] = "2.16.840.1.113719.1.142.100.6";
constexpr const char kUpdateResponse[] = "2.16.840.1.113719.1.142.100.7";

// Hex of what liblber's plain elements hold: constructed elements with
// four-byte lengths, short strings with one.
std::string seq(const std::string &tag, const std::string &contents)
{
    return tag + L(unsigned(contents.size() / 2)) + contents;
}
std::string str(const std::string &text) { return wire::hex(wire::octets(text)); }

// An add of cn=<name> under ou=bulk,o=lab, owning its strings.
struct AddOp {
    std::string dn, cn;
    char cn_type[3] = "cn";
    char sn_type[3] = "sn";
    char oc_type[12] = "objectClass";
    char person[7] = "person";
    char *cn_values[2] = {};
    char *oc_values[2] = {};
    LDAPMod cn_mod{}, sn_mod{}, oc_mod{};
    LDAPMod *mods[4] = {};
    LBURPOperation op{};

    explicit AddOp(const std::string &name) : dn("cn=" + name + ",ou=bulk,o=lab"), cn(name)
    {
        cn_values[0] = cn.data();
        oc_values[0] = person;
        oc_mod = {LDAP_MOD_ADD, oc_type, {oc_values}};
        cn_mod = {LDAP_MOD_ADD, cn_type, {cn_values}};
        sn_mod = {LDAP_MOD_ADD, sn_type, {cn_values}};
        mods[0] = &oc_mod;
        mods[1] = &cn_mod;
        mods[2] = &sn_mod;
        op.type = LBURP_OP_ADD;
        op.dn = dn.c_str();
        op.changes = mods;
    }
    AddOp(const AddOp &) = delete;
};

class Lburp : public simsession::SimTest {
protected:
    dirsim::Options options() const override
    {
        dirsim::Options o = SimTest::options();
        o.lburp_max_operations = 250;
        return o;
    }

    // Sends, waits and parses the start response; returns maxOperations.
    int start()
    {
        int msgid = -1, errcode = -1, max = -1;
        EXPECT_EQ(ldap_lburp_start_request(ld(), &msgid), LDAP_SUCCESS);
        Message res = result(ld(), msgid);
        EXPECT_TRUE(res);
        EXPECT_EQ(ldap_parse_lburp_start_response(ld(), res.get(), &errcode, nullptr, &max, 0), LDAP_SUCCESS);
        EXPECT_EQ(errcode, LDAP_SUCCESS);
        return max;
    }

    void end(int sequence)
    {
        int msgid = -1, errcode = -1;
        ASSERT_EQ(ldap_lburp_end_request(ld(), sequence, &msgid), LDAP_SUCCESS);
        Message res = result(ld(), msgid);
        ASSERT_TRUE(res);
        EXPECT_EQ(ldap_parse_lburp_end_response(ld(), res.release(), &errcode, nullptr, 1), LDAP_SUCCESS);
        EXPECT_EQ(errcode, LDAP_SUCCESS);
    }

    struct Failures {
        int rc = -1, errcode = -1, count = -1;
        LBURPFailedOperation *list = nullptr;
        ~Failures()
        {
            for (int i = 0; i < count; ++i) ldap_memfree(list[i].diagnosticMessage);
            ldapx_memfree(list);
        }
    };

    // One update request, its answer parsed into f.
    void update(int sequence, std::vector<LBURPOperation *> ops, Failures &f)
    {
        ops.push_back(nullptr);
        int msgid = -1;
        ASSERT_EQ(ldap_lburp_operation_request(ld(), sequence, ops.data(), &msgid), LDAP_SUCCESS);
        Message res = result(ld(), msgid);
        ASSERT_TRUE(res);
        f.rc = ldap_parse_lburp_operation_response(ld(), res.release(), &f.errcode, nullptr, &f.count, &f.list, 1);
    }

    // The request value the simulator received last under oid, as hex.
    std::string last_value(const char *oid)
    {
        auto requests = logged("extended", oid);
        return requests.empty() ? "(none)" : requests.back().value_hex;
    }

    // A scripted answer to the next request under oid, then the parse of it.
    Message answer(const char *oid, dirsim::Reply reply, std::function<int(int *)> send)
    {
        server_->clear_script();
        server_->script({.op = "extended", .oid = oid, .reply = reply});
        int msgid = -1;
        EXPECT_EQ(send(&msgid), LDAP_SUCCESS);
        return result(ld(), msgid);
    }
};

// ---- the requests on the wire ----

TEST_F(Lburp, RequestValuesAsSent)
{
    int msgid = -1;
    ASSERT_EQ(ldap_lburp_start_request(ld(), &msgid), LDAP_SUCCESS);
    result(ld(), msgid);
    // SEQUENCE { "2.16.840.1.113719.1.142.1.4.2" }, with liblber's four-byte lengths
    EXPECT_EQ(last_value(kStart), seq("30", str("2.16.840.1.113719.1.142.1.4.2")));

    LBURPOperation *none[] = {nullptr};
    ASSERT_EQ(ldap_lburp_operation_request(ld(), 7, none, &msgid), LDAP_SUCCESS);
    result(ld(), msgid);
    EXPECT_EQ(last_value(kUpdate), "30" + L(3) + "020107");

    AddOp a("a"), b("b");
    LBURPOperation *two[] = {&a.op, &b.op, nullptr};
    ASSERT_EQ(ldap_lburp_operation_request(ld(), 300, two, &msgid), LDAP_SUCCESS);
    result(ld(), msgid);
    // one add: SEQUENCE { [APPLICATION 8] { dn, SEQUENCE { objectClass, cn, sn } } }
    auto add = [](const std::string &name) {
        const std::string oc = seq("30", str("objectClass") + seq("31", str("person")));
        const std::string cn = seq("30", str("cn") + seq("31", str(name)));
        const std::string sn = seq("30", str("sn") + seq("31", str(name)));
        return seq("30", seq("68", str("cn=" + name + ",ou=bulk,o=lab") + seq("30", oc + cn + sn)));
    };
    const std::string ops = add("a") + add("b");
    EXPECT_EQ(last_value(kUpdate), seq("30", "0202012c" + ops));

    ASSERT_EQ(ldap_lburp_end_request(ld(), 8, &msgid), LDAP_SUCCESS);
    result(ld(), msgid);
    EXPECT_EQ(last_value(kEnd), "30" + L(3) + "020108");
}

TEST_F(Lburp, UnknownOperationTypeSendsNothing)
{
    AddOp a("a");
    LBURPOperation odd{};
    odd.type = 99;
    odd.dn = "cn=x,o=lab";
    LBURPOperation *ops[] = {&a.op, &odd, nullptr};
    int msgid = -1;
    EXPECT_EQ(ldap_lburp_operation_request(ld(), 1, ops, &msgid), LDAP_NOT_SUPPORTED);
    EXPECT_EQ(session_code(ld()), LDAP_NOT_SUPPORTED);
    EXPECT_EQ(msgid, -1);
    // An encoder's refusal ends the request the same way (its own code).
    a.op.dn = nullptr;
    LBURPOperation *bad[] = {&a.op, nullptr};
    EXPECT_EQ(ldap_lburp_operation_request(ld(), 1, bad, &msgid), LDAP_PARAM_ERROR);
    EXPECT_EQ(session_code(ld()), LDAP_PARAM_ERROR);
    // Nothing reached the server.
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(Lburp, RequestArguments)
{
    int msgid = -1;
    LBURPOperation *none[] = {nullptr};
    EXPECT_EQ(ldap_lburp_start_request(nullptr, &msgid), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_lburp_operation_request(nullptr, 1, none, &msgid), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_lburp_end_request(nullptr, 1, &msgid), LDAP_PARAM_ERROR);
    const std::vector<std::function<int()>> refused = {
        [&] { return ldap_lburp_start_request(ld(), nullptr); },
        [&] { return ldap_lburp_operation_request(ld(), 1, nullptr, &msgid); },
        [&] { return ldap_lburp_operation_request(ld(), 1, none, nullptr); },
        [&] { return ldap_lburp_end_request(ld(), 1, nullptr); },
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(refused[i](), LDAP_PARAM_ERROR) << i;
        EXPECT_EQ(session_code(ld()), LDAP_PARAM_ERROR) << i;
    }
    EXPECT_TRUE(server_->requests().empty());
}

// ---- crafted responses ----

TEST_F(Lburp, StartResponses)
{
    auto send = [this](int *id) { return ldap_lburp_start_request(ld(), id); };
    struct Case {
        std::optional<std::string> name, value;
        int rc, max;
    };
    const std::vector<Case> cases = {
        {kStartResponse, unhex("3004020201f4"), LDAP_SUCCESS, 500},
        {kStartResponse, std::nullopt, LDAP_SUCCESS, -1},  // no value: untouched
        {kEndResponse, unhex("3004020201f4"), LDAP_NOT_SUPPORTED, -1},
        {kEndResponse, std::nullopt, LDAP_NOT_SUPPORTED, -1},
        {std::nullopt, std::nullopt, LDAP_NOT_SUPPORTED, -1},
        {std::string(kStartResponse) + "0", std::nullopt, LDAP_NOT_SUPPORTED, -1},
        {kStartResponse, unhex("3003020201"), LDAP_DECODING_ERROR, -1},
        {kStartResponse, std::string(), LDAP_DECODING_ERROR, -1},
    };
    for (const Case &tc : cases) {
        Message res = answer(kStart, {.response_name = tc.name, .response_value = tc.value}, send);
        ASSERT_TRUE(res);
        int errcode = -1, max = -1;
        EXPECT_EQ(ldap_parse_lburp_start_response(ld(), res.release(), &errcode, nullptr, &max, 1), tc.rc);
        EXPECT_EQ(session_code(ld()), tc.rc);
        EXPECT_EQ(max, tc.max);
        EXPECT_EQ(errcode, LDAP_SUCCESS);
    }
}

TEST_F(Lburp, StartResponseCarriesTheServersCodeAndMessage)
{
    auto send = [this](int *id) { return ldap_lburp_start_request(ld(), id); };
    Message res = answer(kStart,
                         {.result_code = LDAP_UNWILLING_TO_PERFORM,
                          .diagnostic = "busy",
                          .response_name = kStartResponse},
                         send);
    int errcode = -1, max = -1;
    char *message = nullptr;
    EXPECT_EQ(ldap_parse_lburp_start_response(ld(), res.get(), &errcode, &message, &max, 0), LDAP_SUCCESS);
    EXPECT_EQ(errcode, LDAP_UNWILLING_TO_PERFORM);
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, "busy");
    ldap_memfree(message);
    // The message stays the caller's (freeIt 0) and parses again.
    EXPECT_EQ(ldap_parse_lburp_start_response(ld(), res.get(), nullptr, nullptr, &max, 0), LDAP_SUCCESS);
}

TEST_F(Lburp, UpdateResponseEdgeCases)
{
    auto send = [this](int *id) {
        LBURPOperation *none[] = {nullptr};
        return ldap_lburp_operation_request(ld(), 1, none, id);
    };
    struct Case {
        const char *what;
        std::optional<std::string> name;
        std::optional<std::string> value;
        int rc, count;
    };
    const std::vector<Case> cases = {
        {"no value", kUpdateResponse, std::nullopt, LDAP_SUCCESS, 0},
        {"empty value", kUpdateResponse, std::string(), LDAP_SUCCESS, 0},
        // a number without its result ends the list, uncounted
        {"number only", kUpdateResponse, unhex("3003 020105"), LDAP_SUCCESS, 0},
        {"one, then a number only", kUpdateResponse, unhex("300c 020101 3007 0a0120 0400 0400 3003 020102"),
         LDAP_SUCCESS, 1},
        // one good entry, then a result without its strings: nothing is kept
        {"result without strings", kUpdateResponse,
         unhex("300c 020101 3007 0a0120 0400 0400 3008 020102 3003 0a0120"), LDAP_DECODING_ERROR, 0},
        {"truncated", kUpdateResponse, unhex("3012 020103 300d 0a"), LDAP_DECODING_ERROR, 0},
        {"not a sequence", kUpdateResponse, unhex("0401 00"), LDAP_DECODING_ERROR, 0},
        {"other name", kStartResponse, std::nullopt, LDAP_NOT_SUPPORTED, 0},
        {"no name", std::nullopt, unhex("3003 020105"), LDAP_NOT_SUPPORTED, 0},
    };
    for (const Case &tc : cases) {
        Message res = answer(kUpdate, {.response_name = tc.name, .response_value = tc.value}, send);
        Failures f;
        f.list = reinterpret_cast<LBURPFailedOperation *>(1);  // overwritten first thing
        f.count = 99;
        f.rc = ldap_parse_lburp_operation_response(ld(), res.release(), &f.errcode, nullptr, &f.count, &f.list, 1);
        EXPECT_EQ(f.rc, tc.rc) << tc.what;
        EXPECT_EQ(session_code(ld()), tc.rc) << tc.what;
        EXPECT_EQ(f.count, tc.count) << tc.what;
        EXPECT_EQ(f.list == nullptr, tc.count == 0) << tc.what;
    }
}

// The entry after a referral-carrying one: the referral is skipped within its
// entry and the next entry still reads.
TEST_F(Lburp, UpdateResponseEntryWithReferral)
{
    auto send = [this](int *id) {
        LBURPOperation *none[] = {nullptr};
        return ldap_lburp_operation_request(ld(), 1, none, id);
    };
    const std::string value = unhex("3016 020101 3011 0a010a 0400 0400 a308 0406 6c6461703a2f"
                                     "300c 020102 3007 0a0120 0400 0400");
    Message res = answer(kUpdate, {.response_name = kUpdateResponse, .response_value = value}, send);
    Failures f;
    f.rc = ldap_parse_lburp_operation_response(ld(), res.release(), &f.errcode, nullptr, &f.count, &f.list, 1);
    ASSERT_EQ(f.rc, LDAP_SUCCESS);
    ASSERT_EQ(f.count, 2);
    EXPECT_EQ(f.list[0].resultCode, LDAP_REFERRAL);
    EXPECT_EQ(f.list[1].operationNumber, 2);
    EXPECT_EQ(f.list[1].resultCode, LDAP_NO_SUCH_OBJECT);
}

// A server that answers "other" (80) with its failure list: the code comes
// through errcode, and the list is not lost.
TEST_F(Lburp, ServerCodeOtherKeepsTheFailureList)
{
    auto send = [this](int *id) {
        LBURPOperation *none[] = {nullptr};
        return ldap_lburp_operation_request(ld(), 1, none, id);
    };
    const std::string one = unhex("300c 020104 3007 0a0141 0400 0400");
    Message res =
        answer(kUpdate, {.result_code = LDAP_OTHER, .response_name = kUpdateResponse, .response_value = one}, send);
    Failures f;
    f.rc = ldap_parse_lburp_operation_response(ld(), res.release(), &f.errcode, nullptr, &f.count, &f.list, 1);
    EXPECT_EQ(f.rc, LDAP_SUCCESS);
    EXPECT_EQ(f.errcode, LDAP_OTHER);
    ASSERT_EQ(f.count, 1);
    EXPECT_EQ(f.list[0].operationNumber, 4);
    EXPECT_EQ(f.list[0].resultCode, LDAP_OBJECT_CLASS_VIOLATION);
}

TEST_F(Lburp, EndResponses)
{
    auto send = [this](int *id) { return ldap_lburp_end_request(ld(), 2, id); };
    struct Case {
        std::optional<std::string> name, value;
        int rc;
    };
    const std::vector<Case> cases = {
        {kEndResponse, std::nullopt, LDAP_SUCCESS},
        {kEndResponse, std::string("\x01\x02", 2), LDAP_SUCCESS},  // a value is ignored
        {kUpdateResponse, std::nullopt, LDAP_NOT_SUPPORTED},
        {std::nullopt, std::nullopt, LDAP_NOT_SUPPORTED},
    };
    for (const Case &tc : cases) {
        Message res = answer(kEnd, {.response_name = tc.name, .response_value = tc.value}, send);
        int errcode = -1;
        EXPECT_EQ(ldap_parse_lburp_end_response(ld(), res.release(), &errcode, nullptr, 1), tc.rc);
        EXPECT_EQ(session_code(ld()), tc.rc);
    }
}

TEST_F(Lburp, ParseArgumentsAndMessagesThatAreNotExtendedResponses)
{
    int max = 0, count = 5;
    LBURPFailedOperation *list = reinterpret_cast<LBURPFailedOperation *>(1);
    EXPECT_EQ(ldap_parse_lburp_start_response(ld(), nullptr, nullptr, nullptr, &max, 1), LDAP_PARAM_ERROR);
    EXPECT_EQ(session_code(ld()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_parse_lburp_operation_response(ld(), nullptr, nullptr, nullptr, &count, &list, 1),
              LDAP_PARAM_ERROR);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(ldap_parse_lburp_end_response(ld(), nullptr, nullptr, nullptr, 0), LDAP_PARAM_ERROR);

    // Refused arguments still release a message handed over with freeIt.
    int msgid = -1;
    ASSERT_EQ(ldap_search_ext(ld(), "o=lab", LDAP_SCOPE_BASE, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0,
                              &msgid),
              LDAP_SUCCESS);
    Message res = result(ld(), msgid);
    ASSERT_TRUE(res);
    EXPECT_EQ(ldap_parse_lburp_start_response(ld(), res.release(), nullptr, nullptr, nullptr, 1), LDAP_PARAM_ERROR);
    ASSERT_EQ(ldap_search_ext(ld(), "o=lab", LDAP_SCOPE_BASE, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0,
                              &msgid),
              LDAP_SUCCESS);
    EXPECT_EQ(ldap_parse_lburp_start_response(nullptr, result(ld(), msgid).release(), nullptr, nullptr, &max, 1),
              LDAP_PARAM_ERROR);

    // A search result is no extended response: libldap's parse refuses it.
    ASSERT_EQ(ldap_search_ext(ld(), "o=lab", LDAP_SCOPE_BASE, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0,
                              &msgid),
              LDAP_SUCCESS);
    res = result(ld(), msgid);
    ASSERT_TRUE(res);
    LDAPMessage *done = ldap_first_message(ld(), res.get());
    while (done && ldap_msgtype(done) != LDAP_RES_SEARCH_RESULT) done = ldap_next_message(ld(), done);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(ldap_parse_lburp_end_response(ld(), res.release(), nullptr, nullptr, 1), LDAP_PARAM_ERROR);
}

// ---- against the simulator's realistic LBURP ----

TEST_F(Lburp, BulkLoadOfTenThousandEntriesInBatches)
{
    const int max = start();
    ASSERT_EQ(max, 250);

    constexpr int kEntries = 10000;
    std::vector<std::unique_ptr<AddOp>> adds;
    for (int i = 0; i < kEntries; ++i) adds.push_back(std::make_unique<AddOp>("user" + std::to_string(i)));
    // A few that must fail, at known places: a repeated add (68) and deletes
    // of entries that are not there (32).
    AddOp again("user17");
    LBURPOperation gone{LBURP_OP_DELETE, "cn=nobody,ou=bulk,o=lab", nullptr, nullptr, nullptr, 0};
    std::vector<LBURPOperation *> all;
    for (int i = 0; i < kEntries; ++i) {
        all.push_back(&adds[i]->op);
        if (i == 100) all.push_back(&again.op);   // operation 102 of batch 1
        if (i == 5000) all.push_back(&gone);      // later on
        if (i == kEntries - 1) all.push_back(&gone);
    }

    int sequence = 0;
    std::vector<std::pair<int, int>> failed;  // (batch, operationNumber)
    std::vector<int> codes;
    for (size_t at = 0; at < all.size(); at += size_t(max)) {
        std::vector<LBURPOperation *> batch(all.begin() + at, all.begin() + std::min(all.size(), at + size_t(max)));
        Failures f;
        update(++sequence, batch, f);
        ASSERT_EQ(f.rc, LDAP_SUCCESS);
        ASSERT_EQ(f.errcode, LDAP_SUCCESS);
        for (int i = 0; i < f.count; ++i) {
            failed.emplace_back(sequence, f.list[i].operationNumber);
            codes.push_back(f.list[i].resultCode);
        }
    }
    end(sequence + 1);

    EXPECT_EQ(sequence, int((all.size() + 249) / 250));
    // batch 1: position 101 (0-based) is the repeat; the deletes follow
    // entries 5000 and 9999, counted with the repeat before them.
    const int first_delete = 5000 + 2 + 1, last_delete = kEntries + 2 + 1;
    EXPECT_EQ(failed, (std::vector<std::pair<int, int>>{{1, 102},
                                                         {(first_delete - 1) / 250 + 1, (first_delete - 1) % 250 + 1},
                                                         {(last_delete - 1) / 250 + 1, (last_delete - 1) % 250 + 1}}));
    EXPECT_EQ(codes, (std::vector<int>{LDAP_ALREADY_EXISTS, LDAP_NO_SUCH_OBJECT, LDAP_NO_SUCH_OBJECT}));

    // What LBURP loaded, an ordinary search finds.
    LDAPMessage *raw = nullptr;
    char none[] = "1.1";
    char *attrs[] = {none, nullptr};
    ASSERT_EQ(ldap_search_ext_s(ld(), "ou=bulk,o=lab", LDAP_SCOPE_ONELEVEL, "(objectClass=person)", attrs, 0, nullptr,
                                nullptr, nullptr, 0, &raw),
              LDAP_SUCCESS);
    Message found(raw);
    EXPECT_EQ(ldap_count_entries(ld(), found.get()), kEntries);
    EXPECT_EQ(server_->values("cn=user9999,ou=bulk,o=lab", "sn"), std::vector<std::string>{"user9999"});
}

TEST_F(Lburp, EveryOperationKindAppliesToTheTree)
{
    ASSERT_GT(start(), 0);
    AddOp add("carol");
    char description[] = "description";
    char text[] = "moved";
    char *values[] = {text, nullptr};
    LDAPMod change = {LDAP_MOD_REPLACE, description, {values}};
    LDAPMod *changes[] = {&change, nullptr};
    LBURPOperation modify{LBURP_OP_MODIFY, "cn=carol,ou=bulk,o=lab", changes, nullptr, nullptr, 0};
    char new_rdn[] = "cn=Carol K";
    LBURPOperation rename{LBURP_OP_MODDN, "cn=carol,ou=bulk,o=lab", new_rdn, nullptr, "ou=people,o=lab", 1};
    LBURPOperation remove{LBURP_OP_DELETE, "cn=Bob Jones,ou=people,o=lab", nullptr, nullptr, nullptr, 0};
    Failures f;
    update(1, {&add.op, &modify, &rename, &remove}, f);
    ASSERT_EQ(f.rc, LDAP_SUCCESS);
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.list, nullptr);
    end(2);

    EXPECT_FALSE(server_->exists("cn=carol,ou=bulk,o=lab"));
    EXPECT_EQ(server_->values("cn=Carol K,ou=people,o=lab", "description"), std::vector<std::string>{"moved"});
    // deleteOldRDN: the old value went, the new one came
    EXPECT_EQ(server_->values("cn=Carol K,ou=people,o=lab", "cn"), std::vector<std::string>{"Carol K"});
    EXPECT_FALSE(server_->exists("cn=Bob Jones,ou=people,o=lab"));
}

TEST_F(Lburp, SimulatorRefusesUpdatesOutsideABulkUpdateAndTooManyOperations)
{
    AddOp a("a");
    Failures outside;
    update(1, {&a.op}, outside);
    EXPECT_EQ(outside.rc, LDAP_NOT_SUPPORTED);  // an error answer carries no response name
    EXPECT_EQ(outside.errcode, LDAP_OPERATIONS_ERROR);

    ASSERT_EQ(start(), 250);
    std::vector<std::unique_ptr<AddOp>> many;
    std::vector<LBURPOperation *> ops;
    for (int i = 0; i < 251; ++i) {
        many.push_back(std::make_unique<AddOp>("m" + std::to_string(i)));
        ops.push_back(&many.back()->op);
    }
    Failures too_many;
    update(1, ops, too_many);
    EXPECT_EQ(too_many.errcode, LDAP_UNWILLING_TO_PERFORM);
    EXPECT_FALSE(server_->exists("cn=m0,ou=bulk,o=lab"));
}

}  // namespace
