#include <dirext.h>  // before <ldap.h>

#include "ldif_records.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <utility>

namespace dirext_cli::bulk {
namespace {

bool same_name(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool named(const LdifField &f, std::string_view name) { return !f.separator && same_name(f.name, name); }

// The line as a message names it: "name:" or "-".
std::string shown(const LdifField &f) { return f.separator ? "\"-\"" : "\"" + std::string(f.name) + ":\""; }

LdifError at(const LdifField &f, std::string message) { return {f.line, std::move(message)}; }

struct DnFree {
    void operator()(LDAPRDN *dn) const { ldap_dnfree(dn); }
};

// The number of RDNs of text as a DN, or -1 when it is not one.
int rdn_count(const std::string &text)
{
    LDAPDN parsed = nullptr;
    berval bv{text.size(), const_cast<char *>(text.data())};
    const int rc = ldap_bv2dn(&bv, &parsed, LDAP_DN_FORMAT_LDAPV3);
    std::unique_ptr<LDAPRDN, DnFree> owned(parsed);
    if (rc != LDAP_SUCCESS) return -1;
    int n = 0;
    while (parsed && parsed[n]) ++n;
    return n;
}

bool numeric_oid(std::string_view oid)
{
    return !oid.empty() && std::isdigit(static_cast<unsigned char>(oid.front())) &&
           std::isdigit(static_cast<unsigned char>(oid.back())) && oid.find("..") == std::string_view::npos &&
           std::all_of(oid.begin(), oid.end(), [](unsigned char c) { return std::isdigit(c) || c == '.'; });
}

void skip_spaces(std::string_view &text) { text.remove_prefix(std::min(text.find_first_not_of(' '), text.size())); }

// Builds one record from its fields.
class RecordBuilder {
public:
    RecordBuilder(const std::vector<LdifField> &fields, LdifRecord &record, bool check_dns)
        : fields_(fields), r_(record), check_dns_(check_dns)
    {
    }
    std::optional<LdifError> build();

private:
    using Reader = std::optional<LdifError> (RecordBuilder::*)();
    std::optional<LdifError> control(const LdifField &f);
    std::optional<LdifError> entry();
    std::optional<LdifError> removal() { return nothing_more("delete"); }
    std::optional<LdifError> modifications();
    std::optional<LdifError> rename();
    std::optional<LdifError> expect(const char *name, std::string &value);
    std::optional<LdifError> nothing_more(const char *record_kind);
    std::optional<LdifError> check_dn(const std::string &dn, int rdns) const;

    bool more() const { return at_ < fields_.size(); }
    const LdifField &field() const { return fields_[at_]; }

    const std::vector<LdifField> &fields_;
    LdifRecord &r_;
    bool check_dns_;
    size_t at_ = 0;
};

std::optional<LdifError> RecordBuilder::build()
{
    static const struct {
        const char *name;
        ChangeKind kind;
        Reader read;
    } kChangeTypes[] = {
        {"add", ChangeKind::add, &RecordBuilder::entry},
        {"delete", ChangeKind::remove, &RecordBuilder::removal},
        {"modify", ChangeKind::modify, &RecordBuilder::modifications},
        {"modrdn", ChangeKind::rename, &RecordBuilder::rename},
        {"moddn", ChangeKind::rename, &RecordBuilder::rename},
    };
    const LdifField &first = field();
    if (!named(first, "dn")) return at(first, "expected \"dn:\" to begin the record, found " + shown(first));
    r_.line = first.line;
    r_.dn = first.value;
    if (auto error = check_dn(r_.dn, -1)) return error;
    for (++at_; more() && named(field(), "control"); ++at_)
        if (auto error = control(field())) return error;
    if (!more() || !named(field(), "changetype")) return entry();
    const LdifField &type = fields_[at_++];
    for (const auto &t : kChangeTypes) {
        if (same_name(type.value, t.name)) {
            r_.kind = t.kind;
            return (this->*t.read)();
        }
    }
    return at(type, "unknown changetype " + quoted(type.value));
}

std::optional<LdifError> RecordBuilder::check_dn(const std::string &dn, int rdns) const
{
    if (!check_dns_) return std::nullopt;
    const int n = rdn_count(dn);
    if (n < 0 || (rdns >= 0 && n != rdns))
        return at(fields_[at_], quoted(dn) + (rdns == 1 ? " is not a valid RDN" : " is not a valid DN"));
    return std::nullopt;
}

// "control: OID [true|false] [: value | :: base64 | :< URL]"
std::optional<LdifError> RecordBuilder::control(const LdifField &f)
{
    LdifControl c;
    std::string_view spec = f.value;
    const size_t end = std::min(spec.find_first_of(" :"), spec.size());
    c.oid = spec.substr(0, end);
    if (!numeric_oid(c.oid)) return at(f, quoted(c.oid) + " is not a control OID");
    spec.remove_prefix(end);
    skip_spaces(spec);
    for (std::string_view word : {"true", "false"}) {
        if (spec.substr(0, word.size()) == word && (spec.size() == word.size() || spec[word.size()] == ' ' ||
                                                   spec[word.size()] == ':')) {
            c.critical = word == "true";
            spec.remove_prefix(word.size());
            skip_spaces(spec);
        }
    }
    if (!spec.empty()) {
        if (spec.front() != ':') return at(f, "unexpected " + quoted(spec) + " after the control's OID");
        if (auto error = decode_value(f.line, spec, c.value.emplace())) return error;
    }
    r_.controls.push_back(std::move(c));
    return std::nullopt;
}

std::optional<LdifError> RecordBuilder::entry()
{
    r_.modifications.reserve(fields_.size() - at_);
    for (; more(); ++at_) {
        const LdifField &f = field();
        if (f.separator) return at(f, "\"-\" belongs to modify records only");
        if (named(f, "dn")) return at(f, "a second \"dn:\" in one record (records are separated by a blank line)");
        if (named(f, "changetype") || named(f, "control"))
            return at(f, shown(f) + " must come right after the record's \"dn:\"");
        auto same = std::find_if(r_.modifications.begin(), r_.modifications.end(), [&](const LdifModification &m) {
            return same_name(m.type, f.name);
        });
        if (same == r_.modifications.end())
            same = r_.modifications.insert(same, {LDAP_MOD_ADD, std::string(f.name), {}});
        same->values.emplace_back(f.value);
    }
    if (r_.modifications.empty()) return LdifError{r_.line, "the entry " + quoted(r_.dn) + " has no attributes"};
    return std::nullopt;
}

std::optional<LdifError> RecordBuilder::modifications()
{
    static const struct {
        const char *name;
        int op;
    } kOps[] = {{"add", LDAP_MOD_ADD}, {"delete", LDAP_MOD_DELETE}, {"replace", LDAP_MOD_REPLACE},
                {"increment", LDAP_MOD_INCREMENT}};
    while (more()) {
        const LdifField &head = fields_[at_++];
        auto op = std::find_if(std::begin(kOps), std::end(kOps), [&](const auto &o) { return named(head, o.name); });
        if (op == std::end(kOps))
            return at(head, "expected \"add:\", \"delete:\", \"replace:\" or \"increment:\", found " + shown(head));
        if (head.value.empty()) return at(head, shown(head) + " names no attribute");
        LdifModification m{op->op, std::string(head.value), {}};
        for (; more() && !field().separator; ++at_) {
            if (!named(field(), m.type))
                return at(field(), "expected a value of " + quoted(m.type) + " or \"-\", found " + shown(field()));
            m.values.emplace_back(field().value);
        }
        if (more()) ++at_;  // the "-" that ends it
        r_.modifications.push_back(std::move(m));
    }
    return std::nullopt;
}

std::optional<LdifError> RecordBuilder::expect(const char *name, std::string &value)
{
    if (!more()) return at(fields_.back(), std::string("the record ends before its \"") + name + ":\" line");
    if (!named(field(), name)) return at(field(), std::string("expected \"") + name + ":\", found " + shown(field()));
    value = field().value;
    return std::nullopt;
}

std::optional<LdifError> RecordBuilder::rename()
{
    std::string flag;
    if (auto error = expect("newrdn", r_.new_rdn)) return error;
    if (auto error = check_dn(r_.new_rdn, 1)) return error;
    ++at_;
    if (auto error = expect("deleteoldrdn", flag)) return error;
    if (flag != "0" && flag != "1") return at(field(), "deleteoldrdn must be 0 or 1, not " + quoted(flag));
    r_.delete_old_rdn = flag == "1";
    ++at_;
    if (more() && named(field(), "newsuperior")) {
        r_.new_superior = std::string(field().value);
        if (auto error = check_dn(*r_.new_superior, -1)) return error;
        ++at_;
    }
    return nothing_more("modrdn");
}

std::optional<LdifError> RecordBuilder::nothing_more(const char *record_kind)
{
    if (more()) return at(field(), "unexpected " + shown(field()) + " in a " + record_kind + " record");
    return std::nullopt;
}

}  // namespace

std::optional<LdifRecord> LdifRecords::next()
{
    while (!error_) {
        if ((error_ = reader_.next(fields_)) || fields_.empty()) break;
        if (std::exchange(first_, false) && named(fields_.front(), "version")) {
            if (fields_.front().value != "1")
                error_ = at(fields_.front(), "LDIF version " + quoted(fields_.front().value) + " is not supported");
            fields_.erase(fields_.begin());
            if (error_ || fields_.empty()) continue;
        }
        LdifRecord record;
        if ((error_ = RecordBuilder(fields_, record, check_dns_).build())) break;
        return record;
    }
    return std::nullopt;
}

}  // namespace dirext_cli::bulk
