// Round-trip properties of the bulk-update codecs on generated values.  The
// test writes the bytes a parser reads with liblber itself, and reads the
// bytes an encoder writes by hand against an encoding built from the
// generator's choices, so that the library never checks itself.
#include <dirext.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ber_bytes.h"
#include "generate.h"
#include "peer.h"
#include "wire.h"

namespace {

using extops_test::ber;
using extops_test::hex;

// ---- generated operations ----

struct Attribute {
    int mod_op;  // bit LDAP_MOD_BVALUES picks counted values
    std::string type;
    std::vector<std::string> values;
    bool null_list;    // no values given as a null array
    bool null_empties; // empty counted values with a null pointer
    bool counted() const { return mod_op & LDAP_MOD_BVALUES; }
};

struct Control {
    std::string oid;
    char critical;
    std::optional<std::string> value;
};

struct Operation {
    int type;
    std::string dn, new_rdn;
    std::vector<Attribute> attributes;
    std::optional<std::string> new_superior;
    int delete_old_rdn;
    std::optional<std::vector<Control>> controls;
};

Operation make_operation(generate::Random &rng, std::size_t longest)
{
    static constexpr int kTypes[] = {LBURP_OP_ADD, LBURP_OP_DELETE, LBURP_OP_MODIFY, LBURP_OP_MODDN};
    Operation op{kTypes[rng.below(4)], rng.text(longest), rng.text(longest), {}, {}, rng.int32(), {}};
    op.attributes = rng.list<Attribute>([&] {
        const bool counted = rng.coin();
        const int kind = rng.coin() ? int(rng.below(4)) : rng.int32();  // any kind bits are sent as they are
        Attribute a{(kind & ~LDAP_MOD_BVALUES) | (counted ? LDAP_MOD_BVALUES : 0), rng.text(40), {}, false,
                    rng.coin()};
        a.values = rng.list<std::string>([&] { return counted ? rng.octets(longest) : rng.text(longest); }, longest / 8);
        a.null_list = a.values.empty() && rng.coin();
        return a;
    }, longest / 8);
    if (rng.coin()) op.new_superior = rng.text(longest);
    if (rng.coin()) {
        op.controls = rng.list<Control>([&] {
            Control c{rng.text(40), char(rng.coin() ? 0 : rng.byte()), {}};
            if (rng.coin()) c.value = rng.octets(longest);
            return c;
        }, 6);
    }
    return op;
}

// The C records libldap's types need, pointing into an Operation.
struct CRecords {
    std::vector<std::vector<char *>> strings;
    std::vector<std::vector<berval>> counted;
    std::vector<std::vector<berval *>> counted_pointers;
    std::vector<LDAPMod> mods;
    std::vector<LDAPMod *> mod_pointers;
    std::vector<LDAPControl> controls;
    std::vector<LDAPControl *> control_pointers;
    LBURPOperation op{};

    explicit CRecords(const Operation &o)
        : strings(o.attributes.size()), counted(o.attributes.size()), counted_pointers(o.attributes.size()),
          mods(o.attributes.size())
    {
        for (std::size_t i = 0; i < o.attributes.size(); ++i) {
            const Attribute &a = o.attributes[i];
            mods[i].mod_op = a.mod_op;
            mods[i].mod_type = const_cast<char *>(a.type.c_str());
            for (const std::string &v : a.values) {
                strings[i].push_back(const_cast<char *>(v.c_str()));
                counted[i].push_back({v.size(), v.empty() && a.null_empties ? nullptr : const_cast<char *>(v.data())});
            }
            for (berval &b : counted[i]) counted_pointers[i].push_back(&b);
            strings[i].push_back(nullptr);
            counted_pointers[i].push_back(nullptr);
            if (a.counted()) mods[i].mod_bvalues = a.null_list ? nullptr : counted_pointers[i].data();
            else mods[i].mod_values = a.null_list ? nullptr : strings[i].data();
            mod_pointers.push_back(&mods[i]);
        }
        mod_pointers.push_back(nullptr);
        static const std::vector<Control> kNone;
        for (const Control &c : o.controls ? *o.controls : kNone) {
            berval value = c.value ? berval{c.value->size(), const_cast<char *>(c.value->data())} : berval{0, nullptr};
            controls.push_back({const_cast<char *>(c.oid.c_str()), value, c.critical});
        }
        for (LDAPControl &c : controls) control_pointers.push_back(&c);
        control_pointers.push_back(nullptr);
        op = {o.type, o.dn.c_str(),
              o.type == LBURP_OP_MODDN ? static_cast<void *>(const_cast<char *>(o.new_rdn.c_str())) : mod_pointers.data(),
              o.controls ? control_pointers.data() : nullptr, o.new_superior ? o.new_superior->c_str() : nullptr,
              o.delete_old_rdn};
    }
};

// The operation as RFC 4511 encodes its request, in DER, built by hand.
std::string expected(const Operation &o)
{
    std::string attributes;
    for (const Attribute &a : o.attributes) {
        std::string values;
        for (const std::string &v : a.values) values += wire::octets(v);
        const std::string attribute = wire::tlv(0x30, wire::octets(a.type) + wire::tlv(0x31, values));
        attributes += o.type == LBURP_OP_ADD
                          ? attribute
                          : wire::tlv(0x30, wire::enumerated(a.mod_op & ~LDAP_MOD_BVALUES) + attribute);
    }
    std::string request;
    switch (o.type) {
    case LBURP_OP_ADD:
    case LBURP_OP_MODIFY:
        request = wire::tlv(uint8_t(o.type), wire::octets(o.dn) + wire::tlv(0x30, attributes));
        break;
    case LBURP_OP_DELETE: request = wire::octets(o.dn, 0x4a); break;
    default:
        request = wire::tlv(0x6c, wire::octets(o.dn) + wire::octets(o.new_rdn) +
                                      wire::tlv(0x01, o.delete_old_rdn ? "\xff" : std::string(1, '\0')) +
                                      (o.new_superior ? wire::octets(*o.new_superior, 0x80) : ""));
    }
    if (o.controls) {
        std::string list;
        for (const Control &c : *o.controls)
            list += wire::tlv(0x30, wire::octets(c.oid) + (c.critical ? wire::tlv(0x01, "\xff") : "") +
                                        (c.value ? wire::octets(*c.value) : ""));
        request += wire::tlv(0xa0, list);
    }
    return wire::tlv(0x30, request);
}

// ---- reading what the library sent ----

// Takes one element off the front of in; false when none is there whole.
bool take(std::string_view &in, uint8_t &tag, std::string_view &contents)
{
    if (in.size() < 2) return false;
    tag = uint8_t(in[0]);
    std::size_t length = uint8_t(in[1]), at = 2;
    if (length & 0x80) {
        const std::size_t octets = length & 0x7f;
        if (octets == 0 || octets > 4 || in.size() < 2 + octets) return false;
        for (length = 0; at < 2 + octets; ++at) length = (length << 8) | uint8_t(in[at]);
    }
    if (in.size() - at < length) return false;
    contents = in.substr(at, length);
    in.remove_prefix(at + length);
    return true;
}

// The same elements with the shortest lengths (liblber's plain elements give
// constructed ones four-byte lengths); "(broken)" if they do not parse.
std::string shortest(std::string_view in)
{
    std::string out;
    uint8_t tag = 0;
    std::string_view contents;
    while (!in.empty()) {
        if (!take(in, tag, contents)) return "(broken)";
        out += wire::tlv(tag, tag & 0x20 ? shortest(contents) : std::string(contents));
    }
    return out;
}

// The request name and value of an extended request message.
std::pair<std::string, std::string> extended_request(const std::string &message)
{
    std::string_view in = message, body, id, request, name, value;
    uint8_t tag = 0, id_tag = 0, name_tag = 0, value_tag = 0;
    if (!take(in, tag, body) || !take(body, id_tag, id) || !take(body, tag, request) || tag != 0x77 ||
        !take(request, name_tag, name) || name_tag != 0x80 || !take(request, value_tag, value) || value_tag != 0x81)
        return {"(not an extended request)", ""};
    return {std::string(name), std::string(value)};
}

// ---- encoders ----

int encode(const CRecords &c, BerElement *b)
{
    const LBURPOperation &op = c.op;
    switch (op.type) {
    case LBURP_OP_ADD: return LBURPEncodeAdd(nullptr, op.dn, static_cast<LDAPMod **>(op.changes), op.controls, b);
    case LBURP_OP_DELETE: return LBURPEncodeDelete(nullptr, op.dn, op.controls, b);
    case LBURP_OP_MODIFY: return LBURPEncodeMod(nullptr, op.dn, static_cast<LDAPMod **>(op.changes), op.controls, b);
    default:
        return LBURPEncodeModRDN(nullptr, op.dn, static_cast<const char *>(op.changes), op.newSuperior,
                                 op.deleteOldRDN, op.controls, b);
    }
}

TEST(LburpEncoderProperties, EveryOperationEncodesItsFields)
{
    generate::Random rng;
    for (int i = 0, runs = generate::runs(); i < runs; ++i) {
        const Operation op = make_operation(rng, 200);
        const CRecords c(op);
        BerElement *b = ber_alloc_t(LBER_USE_DER);
        ASSERT_EQ(encode(c, b), LDAP_SUCCESS) << "seed " << rng.seed_used() << " run " << i;  // released on failure
        const std::string bytes = extops_test::flatten(b);
        ber_free(b, 1);
        ASSERT_EQ(hex(bytes), hex(expected(op))) << "seed " << rng.seed_used() << " run " << i << " type " << op.type;
    }
}

// Requests and responses through libldap, to and from an in-memory peer.
class LburpSessionProperties : public ::testing::Test {
protected:
    void SetUp() override { ldap_set_option(peer.ld(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF); }

    // The request name and value (shortest lengths) the session sent.
    std::pair<std::string, std::string> sent(int rc, int msgid)
    {
        EXPECT_EQ(rc, LDAP_SUCCESS);
        EXPECT_GT(msgid, 0);
        auto [name, value] = extended_request(peer.receive());
        return {name, shortest(value)};
    }

    events_test::Peer peer;
};

TEST_F(LburpSessionProperties, RequestsCarryTheirSequenceNumbersAndOperations)
{
    using Sent = std::pair<std::string, std::string>;
    generate::Random rng;
    for (int i = 0, runs = generate::runs(); i < runs && !HasFailure(); ++i) {
        SCOPED_TRACE(testing::Message() << "seed " << rng.seed_used() << " run " << i);
        const int32_t number = rng.int32();
        int msgid = -1;
        if (i % 3 == 0) {
            const int rc = ldap_lburp_start_request(peer.ld(), &msgid);
            EXPECT_EQ(sent(rc, msgid), Sent("2.16.840.1.113719.1.142.100.1",
                                            wire::seq({wire::octets("2.16.840.1.113719.1.142.1.4.2")})));
        } else if (i % 3 == 1) {
            const int rc = ldap_lburp_end_request(peer.ld(), number, &msgid);
            EXPECT_EQ(sent(rc, msgid), Sent("2.16.840.1.113719.1.142.100.4", wire::seq({wire::integer(number)})));
        } else {
            // Small enough that the whole request fits the socket's buffer.
            const auto ops = rng.list<Operation>([&] { return make_operation(rng, 48); }, 8);
            std::vector<std::unique_ptr<CRecords>> records;
            std::vector<LBURPOperation *> pointers;
            std::string value = wire::integer(number);
            for (const Operation &op : ops) {
                records.push_back(std::make_unique<CRecords>(op));
                pointers.push_back(&records.back()->op);
                value += expected(op);
            }
            pointers.push_back(nullptr);
            const int rc = ldap_lburp_operation_request(peer.ld(), number, pointers.data(), &msgid);
            EXPECT_EQ(sent(rc, msgid), Sent("2.16.840.1.113719.1.142.100.6", wire::tlv(0x30, value)));
        }
    }
}

// One failed operation: number, result code, message.
using Failure = std::tuple<int32_t, int32_t, std::string>;

// An LDAP message holding an extended response, written with liblber.
std::string extended_response(int msgid, int32_t code, const std::string &message, const char *name,
                              const std::optional<std::string> &value)
{
    extops_test::Ber b(ber_alloc_t(LBER_USE_DER));
    int rc = ber_printf(b.get(), "{it{esots", msgid, ber_tag_t(LDAP_RES_EXTENDED), code, "", message.data(),
                        message.size(), ber_tag_t(0x8a), name);
    if (rc != -1 && value) rc = ber_printf(b.get(), "to", ber_tag_t(0x8b), value->data(), value->size());
    if (rc != -1) rc = ber_printf(b.get(), "}}");
    return rc == -1 ? "" : extops_test::flatten(b.get());
}

TEST_F(LburpSessionProperties, ResponsesGiveEveryField)
{
    static const char *const kNames[] = {"2.16.840.1.113719.1.142.100.2", "2.16.840.1.113719.1.142.100.7",
                                         "2.16.840.1.113719.1.142.100.5"};
    generate::Random rng;
    for (int i = 0, runs = generate::runs(); i < runs && !HasFailure(); ++i) {
        SCOPED_TRACE(testing::Message() << "seed " << rng.seed_used() << " run " << i);
        const int kind = i % 3;  // start, update, end
        const int32_t code = rng.int32(), max = rng.int32();
        const std::string message = rng.text();
        std::vector<Failure> failures;
        std::optional<std::string> value;
        if (kind == 0 && rng.coin()) value = ber("{i}", max);
        if (kind == 1 && rng.below(4)) {
            // Entries as RFC 4373 gives them, some with a referral (stepped
            // over), perhaps ended by an entry holding only its number.
            failures = rng.list<Failure>([&] { return Failure{rng.int32(), rng.int32(), rng.text()}; });
            value = "";
            for (const auto &[number, result, text] : failures) {
                const std::string matched = rng.text();
                *value += rng.coin() ? ber("{i{esot{s}}}", number, result, matched.c_str(), text.data(), text.size(),
                                           ber_tag_t(0xa3), "ldap://h/")
                                     : ber("{i{eso}}", number, result, matched.c_str(), text.data(), text.size());
            }
            if (rng.coin()) *value += ber("{i}", rng.int32());
        }
        if (kind == 2 && rng.coin()) value = rng.octets();  // ignored, whatever it holds

        const int msgid = peer.open_operation();
        LDAPMessage *m = peer.deliver(msgid, extended_response(msgid, code, message, kNames[kind], value)).release();
        ASSERT_NE(m, nullptr);
        int errcode = -1, got_max = ~max, count = -1;
        char *errmsg = nullptr;
        LBURPFailedOperation *list = nullptr;
        const int rc = kind == 0   ? ldap_parse_lburp_start_response(peer.ld(), m, &errcode, &errmsg, &got_max, 1)
                       : kind == 1 ? ldap_parse_lburp_operation_response(peer.ld(), m, &errcode, &errmsg, &count,
                                                                         &list, 1)
                                   : ldap_parse_lburp_end_response(peer.ld(), m, &errcode, &errmsg, 1);
        EXPECT_EQ(rc, LDAP_SUCCESS);
        EXPECT_EQ(errcode, code);
        EXPECT_EQ(std::string(errmsg ? errmsg : ""), message);
        ldap_memfree(errmsg);
        if (kind == 0) {
            EXPECT_EQ(got_max, value ? max : ~max);  // no value: untouched
        }
        if (kind == 1) {
            std::vector<Failure> got;
            for (int k = 0; k < count; ++k) {
                got.emplace_back(list[k].operationNumber, list[k].resultCode,
                                 list[k].diagnosticMessage ? list[k].diagnosticMessage : "(null)");
                ldap_memfree(list[k].diagnosticMessage);
            }
            EXPECT_EQ(got, failures);
            EXPECT_EQ(list == nullptr, failures.empty());
            ldapx_memfree(list);
        }
    }
}

}  // namespace
