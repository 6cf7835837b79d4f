#include "management.h"

#include <ldap.h>

namespace dirsim::detail::management {

std::string oid(int arc) { return "2.16.840.1.113719.1.27.100." + std::to_string(arc); }

Answer error(int code, std::string diagnostic, std::string matched)
{
    Answer a;
    a.code = code;
    a.diagnostic = std::move(diagnostic);
    a.matched = std::move(matched);
    return a;
}

Answer malformed() { return error(LDAP_PROTOCOL_ERROR, "malformed request value"); }

void serve(int request_arc, Handler handler)
{
    std::string response_name = oid(request_arc + 1);
    register_extended(oid(request_arc),
                      [handler = std::move(handler), response_name](Exchange &ex, const std::optional<std::string> &value) {
                          Answer a = handler(ex, value);
                          Reply reply;
                          reply.result_code = a.code;
                          reply.diagnostic = a.diagnostic;
                          reply.matched_dn = a.matched;
                          reply.response_name = response_name;
                          reply.response_value = a.value;
                          ex.respond(reply);
                      });
}

Fields::Fields(const std::optional<std::string> &value)
    : bytes_(value.value_or(std::string())), present_(value.has_value()), reader_(as_berval(bytes_))
{
}

bool Fields::integer(int &out) { return present_ && reader_.integer(LBER_INTEGER, out); }
bool Fields::string(std::string &out) { return present_ && reader_.string(LBER_OCTETSTRING, out); }

bool Fields::sequence(berval &contents)
{
    ber_tag_t tag = reader_.peek();
    return present_ && tag != LBER_DEFAULT && (tag & LBER_CONSTRUCTED) && reader_.any(tag, contents);
}

bool Fields::end() const { return present_ && reader_.at_end(); }

Writer::Writer() : ber_(ber_alloc_t(LBER_USE_DER)), ok_(ber_ != nullptr) {}

std::optional<std::string> Writer::bytes()
{
    berval *flat = nullptr;
    if (!ok_ || ber_flatten(ber_.get(), &flat) == -1) return std::nullopt;
    std::string out = to_string(*flat);
    ber_bvfree(flat);
    return out;
}

bool anonymous(Exchange &ex) { return ex.session().bound_dn.empty(); }

Answer needs_bind() { return error(LDAP_INSUFFICIENT_ACCESS, "bind first"); }

Located locate(const EntryMap &entries, const std::string &dn)
{
    Located l;
    auto ndn = normalize_dn(dn);
    if (!ndn || ndn->empty()) {
        l.failure = error(LDAP_INVALID_DN_SYNTAX, "invalid DN");
    } else if (!entries.count(*ndn)) {
        l.failure = error(LDAP_NO_SUCH_OBJECT, "", matched_dn(entries, *ndn));
    } else {
        l.ndn = *ndn;
    }
    return l;
}

bool is_partition_root(const EntryMap &entries, const std::string &ndn)
{
    auto it = entries.find(ndn);
    if (it == entries.end()) return false;
    return parent_dn(ndn).empty() || it->second.find(kReplicaAttribute) != nullptr;
}

std::string partition_of(const EntryMap &entries, const std::string &ndn)
{
    for (std::string up = ndn; !up.empty(); up = parent_dn(up))
        if (is_partition_root(entries, up)) return up;
    return std::string();
}

std::vector<Replica> replicas(const Entry &root)
{
    std::vector<Replica> list;
    const Attribute *a = root.find(kReplicaAttribute);
    for (const std::string &v : a ? a->values : std::vector<std::string>()) {
        size_t hash = v.rfind('#');
        Replica r;
        r.server_dn = v.substr(0, hash);
        if (hash != std::string::npos) r.type = std::atoi(v.c_str() + hash + 1);
        list.push_back(std::move(r));
    }
    return list;
}

void set_replicas(Entry &root, const std::vector<Replica> &list)
{
    std::vector<std::string> values;
    for (const Replica &r : list) values.push_back(r.server_dn + "#" + std::to_string(r.type));
    if (values.empty()) {  // an attribute has values or does not exist
        std::erase_if(root.attrs, [](const Attribute &a) { return same_name(a.name, kReplicaAttribute); });
        return;
    }
    Attribute *a = root.find(kReplicaAttribute);
    if (!a) {
        root.attrs.push_back({kReplicaAttribute, {}});
        a = &root.attrs.back();
    }
    a->values = std::move(values);
}

int find_replica(const std::vector<Replica> &list, const std::string &server_dn)
{
    auto wanted = normalize_dn(server_dn);
    for (size_t i = 0; i < list.size(); ++i)
        if (wanted && normalize_dn(list[i].server_dn) == wanted) return int(i);
    return -1;
}

}  // namespace dirsim::detail::management
