// Event monitoring in the simulator: the event type numbers it reports and
// the record each one carries.  (The numbering is the simulator's own; a
// monitoring client passes the numbers through without interpreting them.)
//
// A connection registers with the plain or the filtered monitor request.  Each
// LDAP operation that another connection completes is then reported to every
// registration for its type, as an intermediate response whose value is
// SEQUENCE { type, result code, body }, the body carrying a connection block
// {connection number, message id, bound DN} and, behind its fields, the
// client's network address (type 1, "127.0.0.1").  A filtered registration's
// filter is a DN: only operations on that entry or below it are reported ("":
// all).  The status sent with a type is recorded and echoed, not interpreted.
//
// The registration ends when the client sends anything on the connection, or
// when the server stops; the final response (result 0, or 118 when the client
// sent a Cancel for it) lists the registrations as SEQUENCE { count, SET OF
// SEQUENCE { type, status } }.  An abandon gets that final response too,
// though libldap drops it: a libldap client ends a registration with
// ldap_cancel.
#pragma once

namespace dirsim::events {

enum Type : int {
    kBind = 1,          // AuthEventData (113): method, bind DN, mechanism
    kConnection = 2,    // ConnectionEventData (114): integer2 1 opened, 0 closed (unbind)
    kSearch = 3,        // SearchEventData (115): scope, base, filter, attributes
    kAdd = 4,           // UpdateEventData (117): request tag, DN, attribute names
    kDelete = 5,        // UpdateEventData (117)
    kModify = 6,        // UpdateEventData (117): modified attribute names
    kModDn = 7,         // ModDNEventData (119): new RDN, new superior
    kCompare = 8,       // CompareEventData (118): attribute and value
    kAbandon = 9,       // AbandonEventData (120): the abandoned message id
    kExtended = 10,     // ExtOpEventData (121): request and response names
};

}  // namespace dirsim::events
