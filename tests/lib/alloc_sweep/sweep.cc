#include "sweep.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "alloc_failures.h"

namespace allocsweep {
namespace {

// Administrator for the management rows, alice for the DIGEST-MD5 bind.
const std::string kTree = testsupport::kLabTree + R"(
dn: cn=server1,o=lab
objectClass: device
cn: server1

dn: uid=alice,o=lab
objectClass: inetOrgPerson
uid: alice
cn: Alice
sn: Liddell
userPassword: wonderland
)";

// Far more than any row allocates: a row still failing there never ends.
constexpr long kMostAllocations = 20000;

std::string describe(int rc) { return rc == kNull ? "NULL" : std::to_string(rc); }

void sweep_row(Env &env, const Row &row)
{
    SCOPED_TRACE(row.name);
    allocfail::Hooks hooks;
    for (long n = 1; n <= kMostAllocations; ++n) {
        allocfail::arm(n);
        const int rc = row.run(env);
        const bool failed = allocfail::failed();
        allocfail::disarm();
        if (!failed) {
            EXPECT_GT(n, 1) << row.name << " made no allocation through the seams";
            // ALLOC_SWEEP_VERBOSE=1 lists how many allocations each row swept.
            if (std::getenv("ALLOC_SWEEP_VERBOSE")) std::printf("%-40s %ld\n", row.name, n - 1);
            EXPECT_EQ(rc, 0) << row.name << " without a failure: " << describe(rc);
            return;
        }
        if (rc != row.expected) {
            ADD_FAILURE() << row.name << " with allocation " << n << " failing answered " << describe(rc)
                          << ", expected " << describe(row.expected);
            return;
        }
    }
    ADD_FAILURE() << row.name << " still allocating after " << kMostAllocations << " allocations";
}

}  // namespace

Env::Env()
{
    allocfail::Paused paused;
    server_ = testsupport::start_sim({.ldif_text = kTree});
    if (!server_) throw std::runtime_error("the simulator did not start");
    ld_ = open();
    peer_ = std::make_unique<events_test::Peer>();
}

Env::~Env()
{
    allocfail::Paused paused;
    for (auto &[key, message] : messages_) ldap_msgfree(message);
}

Session Env::open()
{
    allocfail::Paused paused;
    return testsupport::open_admin(server_->url());
}

void Env::answer(int arc, std::optional<std::string> value)
{
    server_->clear_script();
    dirsim::Rule rule;
    rule.op = "extended";
    rule.oid = kArc + std::to_string(arc);
    rule.reply.response_name = kArc + std::to_string(arc + 1);
    rule.reply.response_value = std::move(value);
    server_->script(rule);
}

LDAPMessage *Env::message(const std::string &key, const std::function<std::string(int msgid)> &bytes)
{
    allocfail::Paused paused;
    LDAPMessage *&slot = messages_[key];
    if (!slot) {
        const int msgid = peer_->open_operation();
        slot = peer_->deliver(msgid, bytes(msgid)).release();
    }
    EXPECT_NE(slot, nullptr) << key;
    return slot;
}

void sweep(Env &env, const std::vector<Row> &rows)
{
    for (const Row &row : rows) sweep_row(env, row);
}

Ber reader(const std::string &bytes)
{
    allocfail::Paused paused;
    berval bv{bytes.size(), const_cast<char *>(bytes.data())};
    return Ber(ber_init(&bv));
}

int stored(LDAP *ld, int rc)
{
    EXPECT_EQ(session_code(ld), rc) << "the session's result code";
    return rc;
}

int stored_unless_early(LDAP *ld, int rc)
{
    const bool early = rc == LDAP_NO_MEMORY && allocfail::failed() && allocfail::seen() == 1;
    return early ? rc : stored(ld, rc);
}

}  // namespace allocsweep
