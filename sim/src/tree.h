// The in-memory directory tree.  Entries are keyed by their normalised DN
// (RFC 4514 form from ldap_dn_normalize, then lower-cased, so DNs compare
// without regard to case); attribute names compare without regard to case;
// values are kept byte for byte as given.  There is no schema.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dn.h"

namespace dirsim::detail {

struct Attribute {
    std::string name;  // as first given
    std::vector<std::string> values;
};

struct Entry {
    std::string dn;  // as given
    std::vector<Attribute> attrs;
    uint64_t seq = 0;  // creation order, the order searches return entries in

    Attribute *find(std::string_view name);
    const Attribute *find(std::string_view name) const;
};

// Matching rules, the same for every attribute (documented in server.h's
// users' notes): ASCII case is ignored, nothing else is folded.
bool same_name(std::string_view a, std::string_view b);
bool values_equal(std::string_view a, std::string_view b);
// <0, 0, >0: integers (an optional '-' and digits) by number, others by
// case-ignoring byte order.
int values_order(std::string_view a, std::string_view b);
std::string lower(std::string_view s);

// normalised DN -> entry; looked up by string_view too.
using EntryMap = std::map<std::string, Entry, std::less<>>;

class Tree {
public:
    // LDIF in the form ldif_read_record and ldap_parse_ldif_record read; only
    // entries (no changetype).  False with a message on a bad record or DN.
    bool load_file(const std::string &path, std::string &error);
    bool load_text(const std::string &text, std::string &error);

    // Run f under the shared or the exclusive lock.
    template <class F>
    auto read(F &&f) const
    {
        std::shared_lock lock(mu_);
        return f(static_cast<const EntryMap &>(entries_));
    }
    // Every write counts as a change (whether or not f changed anything).
    template <class F>
    auto write(F &&f)
    {
        std::unique_lock lock(mu_);
        struct Changed {
            Tree &tree;
            ~Changed()
            {
                ++tree.version_;
                for (const auto &[id, observer] : tree.observers_) observer(tree.entries_, tree.version_);
            }
        } changed{*this};
        return f(entries_, next_seq_);
    }

    // The number of writes so far.
    uint64_t version() const
    {
        std::shared_lock lock(mu_);
        return version_;
    }

    // An observer sees the tree now, when it is added, and again after every
    // write, with the write count; it runs under the write lock, so it must
    // be quick and must not use the tree.  Returns a key for unobserve().
    using Observer = std::function<void(const EntryMap &entries, uint64_t version)>;
    uint64_t observe(Observer observer)
    {
        std::unique_lock lock(mu_);
        observer(entries_, version_);
        observers_.emplace(++last_observer_, std::move(observer));
        return last_observer_;
    }
    void unobserve(uint64_t key)
    {
        std::unique_lock lock(mu_);
        observers_.erase(key);
    }

private:
    bool load(void *ldif_fp, const std::string &source, std::string &error);

    mutable std::shared_mutex mu_;
    EntryMap entries_;
    uint64_t next_seq_ = 1;
    uint64_t version_ = 0;
    std::map<uint64_t, Observer> observers_;
    uint64_t last_observer_ = 0;
};

// The DN (as stored) of ndn's nearest existing ancestor, "" if none; for the
// matchedDN of noSuchObject answers.
std::string matched_dn(const EntryMap &entries, const std::string &ndn);
// The entries under base within scope (0 base, 1 one level, 2 subtree).
bool in_scope(const std::string &ndn, const std::string &base, int scope);

}  // namespace dirsim::detail
