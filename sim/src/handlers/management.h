// Shared pieces of the directory-management extended operations (names
// under 2.16.840.1.113719.1.27.100, each answered under its request arc + 1):
// reading their request values, which are elements one after another with no
// SEQUENCE around them, encoding answers, and the partition model.
//
// Partitions live in the tree: an entry is a partition root when it is a
// top-level entry or carries values of the attribute "replica".  Each value
// is one replica of the partition, "<server DN>#<type>" (0 master, 1
// secondary, 2 read-only, 3 subordinate reference); its replica number is its
// position, from 1.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../core.h"

namespace dirsim::detail::management {

std::string oid(int arc);

// What a handler answers; the response name is added by serve().
struct Answer {
    int code = 0;
    std::optional<std::string> value;
    std::string diagnostic;
    std::string matched;
};
Answer error(int code, std::string diagnostic, std::string matched = {});
Answer malformed();  // protocolError: the request value does not decode

using Handler = std::function<Answer(Exchange &, const std::optional<std::string> &value)>;
// Registers `handler` for the request arc; every answer carries the response
// name (arc + 1), errors included.
void serve(int request_arc, Handler handler);

// Reads the request value's elements in order.
class Fields {
public:
    explicit Fields(const std::optional<std::string> &value);
    bool integer(int &out);
    bool string(std::string &out);
    bool sequence(berval &contents);  // a constructed element; read it with a Reader
    bool end() const;

private:
    std::string bytes_;
    bool present_;
    Reader reader_;
};

// Builds an answer value with liblber; false (and no bytes) on failure.
class Writer {
public:
    Writer();
    template <typename... A>
    Writer &put(const char *format, A... args)
    {
        if (ok_) ok_ = ber_printf(ber_.get(), format, args...) != -1;
        return *this;
    }
    std::optional<std::string> bytes();

private:
    BerPtr ber_;
    bool ok_;
};

// Changes need an identity: anonymous sessions get insufficientAccessRights.
bool anonymous(Exchange &ex);
Answer needs_bind();

// The entry's normalised DN in the tree, or the noSuchObject answer.
struct Located {
    std::string ndn;
    std::optional<Answer> failure;
};
Located locate(const EntryMap &entries, const std::string &dn);

struct Replica {
    std::string server_dn;
    int type = 0;
};
inline constexpr char kReplicaAttribute[] = "replica";

bool is_partition_root(const EntryMap &entries, const std::string &ndn);
std::string partition_of(const EntryMap &entries, const std::string &ndn);  // nearest root at or above
std::vector<Replica> replicas(const Entry &root);
void set_replicas(Entry &root, const std::vector<Replica> &list);
// Position of serverDN in the list, or -1 (DNs compared normalised).
int find_replica(const std::vector<Replica> &list, const std::string &server_dn);

}  // namespace dirsim::detail::management
