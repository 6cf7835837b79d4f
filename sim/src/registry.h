// Where handler files plug in.  Each file registers, from a static Registrar,
// the protocol operations it decodes and serves (by request tag), the extended
// operations it answers (by request OID), the SASL mechanisms it speaks and the
// controls it honours.  Registration happens during static initialisation
// only; afterwards the tables are read-only, so lookups take no lock.
#pragma once

#include <lber.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dirsim/server.h"
#include "tree.h"

namespace dirsim::detail {

class Exchange;

// One decoded protocol operation.
class Operation {
public:
    virtual ~Operation() = default;
    // Reads the operation's contents; fills the request's dn, detail (and
    // oid/value where they apply).  False when they are malformed.
    virtual bool decode(const berval &body, Request &request) = 0;
    // The request's value as sent (extended requestValue, bind password or
    // SASL credentials, compare assertion value; empty for others), when
    // decode() set Request::has_value.  The log keeps these bytes and writes
    // them out as Request::value_hex only when a test reads the log, so a
    // request in flight has has_value set and value_hex still empty.
    virtual std::string_view value() const { return {}; }
    // The realistic answer.
    virtual void serve(Exchange &exchange) = 0;
};

struct OpSpec {
    std::string name;        // Request::op
    ber_tag_t response_tag;  // 0: the operation has no response
    std::function<std::unique_ptr<Operation>()> make;
};

// value: the requestValue, when sent.
using ExtendedHandler = std::function<void(Exchange &, const std::optional<std::string> &value)>;
// credentials: the SASL credentials, when sent.
using SaslHandler = std::function<void(Exchange &, const std::optional<std::string> &credentials)>;

// Hooks wrap the realistic handler of every request that is neither scripted
// nor refused for a critical control.  Each gets the decoded operation and its
// body, and either answers the request itself or calls next() to go on: to
// the next hook, after the last one to the operation's own handler.  They are
// chained in registration order.
using RequestHook =
    std::function<void(Exchange &, Operation &, const berval &body, const std::function<void()> &next)>;

void register_operation(ber_tag_t request_tag, OpSpec spec);
void register_extended(const std::string &oid, ExtendedHandler handler);
void register_sasl(const std::string &mechanism, SaslHandler handler);
void register_control(const std::string &oid);
void register_hook(RequestHook hook);
// Stop hooks run when a server stops, once it accepts no more connections and
// before it shuts the open ones down: a handler may still answer on them.
using StopHook = std::function<void(Server::Impl &)>;
void register_stop_hook(StopHook hook);
// Seeds run once, when a server has loaded its tree, and may add entries of
// their own (the subschema subentry's handler adds a built-in one).
using TreeSeed = std::function<void(EntryMap &entries, uint64_t &next_seq)>;
void register_seed(TreeSeed seed);

const OpSpec *find_operation(ber_tag_t request_tag);
const ExtendedHandler *find_extended(const std::string &oid);
const SaslHandler *find_sasl(const std::string &mechanism);  // mechanism names ignore case
bool control_supported(const std::string &oid);
const std::vector<RequestHook> &request_hooks();
const std::vector<StopHook> &stop_hooks();
const std::vector<TreeSeed> &tree_seeds();

std::vector<std::string> extended_oids();  // sorted, for the root DSE
std::vector<std::string> sasl_mechanisms();
std::vector<std::string> supported_controls();

struct Registrar {
    template <class F>
    explicit Registrar(F f)
    {
        f();
    }
};

}  // namespace dirsim::detail
