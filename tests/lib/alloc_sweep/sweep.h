// The allocation-failure sweep: one row per exported function that allocates
// through the library's allocation seams.  A row calls its function once with
// valid inputs, checks the outputs that the header promises for a failure,
// releases what the call returned and answers the call's result.  The sweep
// makes the row's 1st, 2nd, ... allocation fail until a run needs none failed,
// and expects the row's documented out-of-memory result each time, success
// from the last run, and (under the sanitizers) no leak.
#pragma once

#include <dirext.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dirsim/server.h"
#include "peer.h"
#include "sim_fixture.h"

namespace allocsweep {

// What a row answers for a function whose failure is a null result.
constexpr int kNull = -1000;

class Env;

struct Row {
    const char *name;   // the exported function
    int expected;       // its result when one of its allocations fails
    int (*run)(Env &);  // one call; 0 for success
};

// The rows of each area, in the order of its header.
const std::vector<Row> &controls_rows();
const std::vector<Row> &events_rows();
const std::vector<Row> &extops_rows();
const std::vector<Row> &lburp_rows();
const std::vector<Row> &sasl_rows();
const std::vector<Row> &schema_rows();
const std::vector<Row> &tls_rows();

using Session = testsupport::Ldap;
using testsupport::kAdminDn;

inline const char kServer1[] = "cn=server1,o=lab";
// The management operations' OIDs: kArc + number.
inline const char kArc[] = "2.16.840.1.113719.1.27.100.";

// What the rows work with: a directory simulator, sessions to it, and an
// in-memory peer that turns exact bytes into libldap messages.  Everything
// here runs with the failure hook paused.
class Env {
public:
    Env();
    ~Env();

    // A session bound as the administrator, shared by the rows.
    LDAP *ld() const { return ld_.get(); }
    // A new session, bound as the administrator.
    Session open();
    dirsim::Server &server() { return *server_; }

    // Every management request with the OID kArc + arc answers success with
    // response name kArc + (arc + 1) and `value`.
    void answer(int arc, std::optional<std::string> value = std::nullopt);

    // The message libldap makes of the LDAP message `bytes(msgid)` sent by
    // the peer, kept under `key` for the next calls (rows pass freeit 0).
    LDAPMessage *message(const std::string &key, const std::function<std::string(int msgid)> &bytes);

private:
    std::unique_ptr<dirsim::Server> server_;
    Session ld_;
    std::unique_ptr<events_test::Peer> peer_;
    std::map<std::string, LDAPMessage *> messages_;
};

// Runs every row of `rows` through the sweep.
void sweep(Env &env, const std::vector<Row> &rows);

// A decoder over a copy of `bytes`, released with its buffer.
struct BerFree {
    void operator()(BerElement *b) const { ber_free(b, 1); }
};
using Ber = std::unique_ptr<BerElement, BerFree>;
Ber reader(const std::string &bytes);

using testsupport::session_code;
// rc, checked to be the session's result code too.
int stored(LDAP *ld, int rc);
// The same, except for LDAP_NO_MEMORY from the call's first allocation, which
// some calls answer before they touch the handle.
int stored_unless_early(LDAP *ld, int rc);

}  // namespace allocsweep
