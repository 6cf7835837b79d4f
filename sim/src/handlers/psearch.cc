// Persistent search (draft-ietf-ldapext-psearch): a search carrying the
// persistent-search control stays open and sends each entry that changes
// within its scope and filter, with an entry-change notification control,
// until the client sends anything else on the connection (normally an
// abandon), closes it, or the server stops.
//
// Changes are found by comparing the tree after each write with the tree
// before it: an entry keeps its creation number across a rename, so a rename
// is told apart from a delete and an add.  (That is a copy of the tree per
// write while a persistent search runs: fine for the trees tests use.)  The
// change number sent is the tree's write count.
#include <ldap.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "search.h"

namespace dirsim::detail {
namespace {

constexpr const char kPersistentSearch[] = "2.16.840.1.113730.3.4.3";
constexpr const char kEntryChange[] = "2.16.840.1.113730.3.4.7";
constexpr int kAdd = 1, kDelete = 2, kModify = 4, kModDn = 8;
constexpr int kPollMs = 50;

struct Settings {
    int change_types = 0;
    bool changes_only = false;
    bool return_ecs = false;
};

bool decode_settings(const RequestControl &control, Settings &out)
{
    if (!control.has_value) return false;
    std::string bytes;
    for (size_t i = 0; i + 1 < control.value_hex.size(); i += 2)
        bytes.push_back(char(std::stoi(control.value_hex.substr(i, 2), nullptr, 16)));
    berval value = as_berval(bytes), contents;
    Reader outer(value);
    if (!outer.element(LBER_SEQUENCE, contents) || !outer.at_end()) return false;
    Reader r(contents);
    return r.integer(LBER_INTEGER, out.change_types) && r.boolean(LBER_BOOLEAN, out.changes_only) &&
           r.boolean(LBER_BOOLEAN, out.return_ecs) && r.at_end() && out.change_types > 0 &&
           out.change_types <= (kAdd | kDelete | kModify | kModDn);
}

// The tree by creation number, with each entry's normalised DN.
struct Known {
    std::string ndn;
    Entry entry;
};
using Snapshot = std::map<uint64_t, Known>;

Snapshot snapshot(const EntryMap &entries)
{
    Snapshot out;
    for (const auto &[ndn, e] : entries) out.emplace(e.seq, Known{ndn, e});
    return out;
}

bool same_content(const Entry &a, const Entry &b)
{
    if (a.attrs.size() != b.attrs.size()) return false;
    for (size_t i = 0; i < a.attrs.size(); ++i)
        if (a.attrs[i].name != b.attrs[i].name || a.attrs[i].values != b.attrs[i].values) return false;
    return true;
}

std::string entry_change_value(int type, const std::string *previous_dn, uint64_t number)
{
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber || ber_printf(ber.get(), "{e", type) == -1) return {};
    if (previous_dn) {
        berval dn = as_berval(*previous_dn);
        if (ber_printf(ber.get(), "O", &dn) == -1) return {};
    }
    // The change number goes with the tag [0], as the directory sends it.
    if (ber_printf(ber.get(), "ti}", ber_tag_t(LBER_CLASS_CONTEXT), ber_int_t(number)) == -1) return {};
    berval flat{};
    if (ber_flatten2(ber.get(), &flat, 0) == -1) return {};
    return std::string(flat.bv_val, flat.bv_len);
}

// The persistent searches in place, per server, for
// Server::wait_for_persistent_searches.
struct Live {
    std::mutex mu;
    std::condition_variable changed;
    std::map<const Server::Impl *, size_t> count;
};

Live &live()
{
    static Live l;
    return l;
}

// Counts one search as in place for as long as it lives.
class InPlace {
public:
    explicit InPlace(const Server::Impl &server) : server_(&server)
    {
        std::lock_guard lock(live().mu);
        ++live().count[server_];
        live().changed.notify_all();
    }
    ~InPlace()
    {
        std::lock_guard lock(live().mu);
        if (--live().count[server_] == 0) live().count.erase(server_);
    }
    InPlace(const InPlace &) = delete;
    InPlace &operator=(const InPlace &) = delete;

private:
    const Server::Impl *server_;
};

// One notification waiting to be sent.
struct Notice {
    Entry entry;
    int type;  // 0: an entry of the initial result
    std::optional<std::string> previous_dn;
    uint64_t number;
};

class PersistentSearch {
public:
    PersistentSearch(Exchange &ex, SearchSpec &spec, std::string base, Settings settings)
        : ex_(ex), spec_(spec), base_(std::move(base)), settings_(settings)
    {
    }

    void run()
    {
        // From here on every write is compared with the one before, under the
        // tree's lock, so that no change is missed or merged with the next.
        const uint64_t key = ex_.tree().observe([this](const EntryMap &entries, uint64_t version) {
            std::lock_guard lock(mu_);
            Snapshot now = snapshot(entries);
            if (first_) {
                first_ = false;
                if (!settings_.changes_only) {
                    for (const auto &[seq, k] : now)
                        if (spec_.matches(k.ndn, base_, k.entry)) queue_.push_back({k.entry, 0, std::nullopt, 0});
                }
            } else {
                compare(last_, now, version);
            }
            last_ = std::move(now);
            ready_.notify_all();
        });
        {
            const InPlace in_place(ex_.server());
            serve_notices();
        }
        ex_.tree().unobserve(key);
    }

private:
    void serve_notices()
    {
        Connection &connection = ex_.connection();
        std::unique_lock lock(mu_);
        while (!ex_.server().stopping) {
            while (!queue_.empty()) {
                Notice notice = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                const bool sent = send(notice);
                lock.lock();
                if (!sent) return;
            }
            lock.unlock();
            const bool client_spoke = connection.readable(0);  // its next request ends the search
            lock.lock();
            if (client_spoke) return;
            ready_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return !queue_.empty(); });
        }
    }

    void compare(const Snapshot &before, const Snapshot &after, uint64_t number)
    {
        for (const auto &[seq, old] : before) {
            if (!after.count(seq) && spec_.matches(old.ndn, base_, old.entry))
                queue_.push_back({old.entry, kDelete, std::nullopt, number});
        }
        for (const auto &[seq, now] : after) {
            if (!spec_.matches(now.ndn, base_, now.entry)) continue;
            auto was = before.find(seq);
            if (was == before.end()) queue_.push_back({now.entry, kAdd, std::nullopt, number});
            else if (was->second.ndn != now.ndn) queue_.push_back({now.entry, kModDn, was->second.entry.dn, number});
            else if (!same_content(was->second.entry, now.entry)) queue_.push_back({now.entry, kModify, std::nullopt, number});
        }
    }

    bool send(const Notice &notice)
    {
        if (notice.type && !(settings_.change_types & notice.type)) return true;
        std::vector<ResponseControl> controls;
        if (notice.type && settings_.return_ecs) {
            controls.push_back({kEntryChange, false,
                                entry_change_value(notice.type, notice.previous_dn ? &*notice.previous_dn : nullptr,
                                                   notice.number)});
        }
        BerPtr message = spec_.encode_entry(ex_.request().msgid, notice.entry, controls);
        return message && ex_.send(message.get());
    }

    Exchange &ex_;
    SearchSpec &spec_;
    std::string base_;
    Settings settings_;

    std::mutex mu_;  // guards what the observer shares with the sending thread
    std::condition_variable ready_;
    bool first_ = true;
    Snapshot last_;
    std::deque<Notice> queue_;
};

void persistent_search(Exchange &ex, Operation &, const berval &body, const std::function<void()> &next)
{
    const Request &request = ex.request();
    const RequestControl *control = nullptr;
    for (const auto &c : request.control_details)
        if (c.oid == kPersistentSearch) control = &c;
    if (request.op != "search" || !control) return next();

    Settings settings;
    if (!decode_settings(*control, settings)) {
        ex.result(LDAP_PROTOCOL_ERROR, "", "persistent search control value is malformed");
        return;
    }
    Request decoded;  // the core decoded it already; this is the same body again
    SearchSpec spec;
    if (!spec.decode(body, decoded)) return next();
    auto base = ex.target();
    if (!base) return;
    std::string matched;
    const bool exists = base->empty() || ex.tree().read([&](const EntryMap &entries) {
        if (entries.count(*base)) return true;
        matched = matched_dn(entries, *base);
        return false;
    });
    if (!exists) {
        ex.result(LDAP_NO_SUCH_OBJECT, matched);
        return;
    }
    PersistentSearch(ex, spec, *base, settings).run();  // never a final result: only the client ends it
}

}  // namespace
}  // namespace dirsim::detail

namespace dirsim {

bool Server::wait_for_persistent_searches(size_t n, int timeout_ms) const
{
    detail::Live &l = detail::live();
    std::unique_lock lock(l.mu);
    return l.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        auto it = l.count.find(impl_.get());
        return it != l.count.end() && it->second >= n;
    });
}

}  // namespace dirsim

namespace dirsim::detail {
namespace {

const Registrar registrar([] {
    register_control(kPersistentSearch);
    register_hook(persistent_search);
});

}  // namespace
}  // namespace dirsim::detail
