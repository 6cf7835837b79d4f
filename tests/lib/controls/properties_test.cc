// Round-trip properties of the controls on generated values.  A created
// control's value must equal an encoding built by hand from the generator's
// choices; a parsed one is built by hand too, so the library never checks
// itself.
#include <dirext.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "generate.h"
#include "ldap_handles.h"
#include "wire.h"

namespace {

std::string boolean(bool value) { return wire::tlv(0x01, value ? "\xff" : std::string(1, '\0')); }

std::optional<std::string> text_of(const char *s) { return s ? std::optional<std::string>(s) : std::nullopt; }

// ---- request controls ----

struct Made {
    const char *oid;
    bool critical;
    std::optional<std::string> value;  // what the control must hold
    int rc = -1;
    LDAPControl *control = nullptr;
};
using Creator = std::function<Made(generate::Random &, LDAP *)>;

Made persistent_search(generate::Random &rng, LDAP *ld)
{
    const int32_t types = rng.int32(), only = rng.int32(), ecs = rng.int32();
    const char critical = char(rng.coin() ? rng.byte() : 0);
    Made m{"2.16.840.1.113730.3.4.3", critical != 0,
           wire::tlv(0x30, wire::integer(types) + boolean(only) + boolean(ecs))};
    m.rc = ldap_create_persistentsearch_control(ld, types, only, ecs, critical, &m.control);
    return m;
}

Made proxied_authorisation(generate::Random &rng, LDAP *ld)
{
    const std::string id = rng.text();
    Made m{"2.16.840.1.113730.3.4.18", true, id};
    m.rc = ldap_create_proxyauth_control(ld, id.c_str(), &m.control);
    return m;
}

Made effective_privileges(generate::Random &rng, LDAP *ld)
{
    const int32_t selector = rng.coin() ? int32_t(rng.below(2)) : rng.int32();
    const int critical = rng.coin() ? rng.int32() : 0;
    struct Item {
        std::optional<std::string> first, second;
    };
    const auto items = rng.list<Item>([&] {
        Item item;
        if (rng.coin()) item.first = rng.text();
        if (!item.first || rng.coin()) item.second = rng.text();  // one of the two at least
        return item;
    });
    std::vector<LDAPEffectivePrivilegesItem> records;
    std::string sent;
    for (const Item &item : items) {
        records.push_back({item.first ? item.first->c_str() : nullptr, item.second ? item.second->c_str() : nullptr});
        sent += item.first ? wire::octets(*item.first, 0x80) : wire::octets(*item.second, 0x81);
    }
    std::vector<LDAPEffectivePrivilegesItem *> pointers;
    for (auto &r : records) pointers.push_back(&r);
    pointers.push_back(nullptr);
    const bool alone = uint32_t(selector) <= 1;  // a larger selector sends the items instead
    Made m{"2.16.840.1.113719.1.27.101.33", critical != 0,
           wire::tlv(0x30, alone ? wire::integer(selector, 0x80) : wire::tlv(0x81, sent))};
    m.rc = ldap_create_geteffective_control(ld, pointers.data(), selector, critical, &m.control);
    return m;
}

Made status_request(generate::Random &rng, LDAP *ld)
{
    uint32_t f[7];
    std::string sent;
    for (unsigned i = 0; i < 7; ++i) {
        const uint32_t choices[] = {0, 1, 2, LDAPX_STATUS_UNSET, uint32_t(rng.int32())};
        f[i] = choices[rng.below(5)];
        if (i == 2 ? f[i] != LDAPX_STATUS_UNSET : f[i] <= 1) sent += wire::tlv(uint8_t(0x80 + i), boolean(f[i]).substr(2));
    }
    const LDAPStatusRequest status{f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
    const int critical = rng.coin() ? rng.int32() : 0;
    Made m{"2.16.840.1.113719.1.27.101.40", critical != 0, wire::tlv(0x30, sent)};
    m.rc = ldap_create_sstatus_control(ld, &status, critical, &m.control);
    return m;
}

Made reference_request(generate::Random &rng, LDAP *ld)
{
    const int critical = rng.coin() ? rng.int32() : 0;
    Made m{"2.16.840.1.113719.1.1.5150.101.1", critical != 0, std::nullopt};
    m.rc = ldap_create_reference_control(ld, critical, &m.control);
    return m;
}

// ---- response controls, written by hand ----

// A control array as libldap hands it out: perhaps another control first,
// then the control, perhaps a second one with its OID that must not be read.
class Array {
public:
    Array(generate::Random &rng, const char *oid, std::string value) : value_(std::move(value)), noise_(rng.octets())
    {
        std::size_t n = 0;
        if (rng.coin()) list_[n++] = put(other_, "1.3.6.1.4.1.32473.9", noise_);
        list_[n++] = put(wanted_, oid, value_);
        if (rng.coin()) list_[n++] = put(later_, oid, noise_);
    }
    LDAPControl **get() { return list_; }

private:
    static LDAPControl *put(LDAPControl &c, const char *oid, std::string &bytes)
    {
        c = {const_cast<char *>(oid), {bytes.size(), bytes.data()}, 0};
        return &c;
    }
    std::string value_, noise_;
    LDAPControl other_{}, wanted_{}, later_{};
    LDAPControl *list_[4] = {};
};

void entry_change(generate::Random &rng, LDAP *ld)
{
    const int32_t type = rng.int32();
    std::optional<std::string> prev;
    std::optional<int32_t> number;
    if (rng.coin()) prev = rng.text();
    if (rng.coin()) number = rng.int32();
    const bool universal = rng.below(4) == 0;  // INTEGER's own tag: not a change number
    Array a(rng, "2.16.840.1.113730.3.4.7",
            wire::tlv(0x30, wire::enumerated(type) + (prev ? wire::octets(*prev) : "") +
                                (number ? wire::integer(*number, universal ? 0x02 : 0x80) : "")));
    int got_type = ~type, present = -1, got_number = number ? ~*number : 0;
    char *got_prev = nullptr;
    EXPECT_EQ(ldap_parse_entrychange_control(ld, a.get(), &got_type, &got_prev, &present, &got_number), LDAP_SUCCESS);
    EXPECT_EQ(got_type, type);
    EXPECT_EQ(text_of(got_prev), prev);
    ldap_memfree(got_prev);
    EXPECT_EQ(present, number && !universal);
    if (present == 1) {
        EXPECT_EQ(got_number, *number);
    }
    // Without the optional outputs the type still reads.
    got_type = ~type;
    EXPECT_EQ(ldap_parse_entrychange_control(ld, a.get(), &got_type, nullptr, nullptr, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(got_type, type);
}

void status_response(generate::Random &rng, LDAP *ld)
{
    std::optional<int32_t> sent[4];
    int got[4], before[4], *outputs[4];
    std::string contents;
    for (unsigned i = 0; i < 4; ++i) {
        if (rng.coin()) {
            sent[i] = rng.int32();
            contents += wire::integer(*sent[i], uint8_t(0x80 + i));
        }
        got[i] = before[i] = rng.int32();
        outputs[i] = rng.below(4) ? &got[i] : nullptr;  // a null pointer skips its number
    }
    Array a(rng, "2.16.840.1.113719.1.27.101.40", wire::tlv(0x30, contents));
    EXPECT_EQ(ldap_parse_sstatus_control(ld, a.get(), outputs[0], outputs[1], outputs[2], outputs[3]), LDAP_SUCCESS);
    for (unsigned i = 0; i < 4; ++i)
        if (outputs[i]) {
            EXPECT_EQ(got[i], sent[i].value_or(before[i])) << "[" << i << "]";
        }
}

void reference_response(generate::Random &rng, LDAP *ld)
{
    std::optional<std::string> s1, s3, s6;
    std::optional<int32_t> i2, i4;
    std::optional<std::vector<std::string>> list5;
    std::vector<std::string> fields;
    auto text = [&](std::optional<std::string> &out, uint8_t tag) {
        if (rng.coin()) fields.push_back(wire::octets(*(out = rng.text()), tag));
    };
    auto number = [&](std::optional<int32_t> &out, uint8_t tag) {
        if (rng.coin()) fields.push_back(wire::integer(*(out = rng.int32()), tag));
    };
    text(s1, 0x81);
    number(i2, 0x82);
    text(s3, 0x83);
    number(i4, 0x84);
    if (rng.coin()) {
        list5 = rng.list<std::string>([&] { return rng.text(); });
        std::string members;
        for (const std::string &m : *list5) members += wire::octets(m);
        fields.push_back(wire::tlv(rng.coin() ? 0x85 : 0xa5, members));  // either tag is the set
    }
    text(s6, 0x86);
    if (rng.coin()) {  // an element of another tag is stepped over
        static constexpr uint8_t kOthers[] = {0x80, 0x87, 0x02, 0xa7};
        fields.insert(fields.begin() + long(rng.below(fields.size() + 1)), wire::tlv(kOthers[rng.below(4)], rng.octets()));
    }
    std::string contents;
    for (const std::string &f : fields) contents += f;
    Array a(rng, "2.16.840.1.113719.1.1.5150.101.1", wire::tlv(0x31, contents));

    // Absent fields leave these very pointers; an empty set may come as null.
    char untouched[1] = {}, *untouched_list[1] = {};
    char *g1 = untouched, *g3 = untouched, *g6 = untouched, **g5 = untouched_list;
    const int before2 = rng.int32(), before4 = rng.int32();
    int g2 = before2, g4 = before4;
    EXPECT_EQ(ldap_parse_reference_control(ld, a.get(), &g1, &g2, &g3, &g4, &g5, &g6), LDAP_SUCCESS);
    std::optional<std::vector<std::string>> got5;
    if (g5 != untouched_list) got5.emplace();
    for (std::size_t n = 0; got5 && g5 && g5[n]; ++n) got5->push_back(g5[n]);
    EXPECT_EQ(got5, list5);
    EXPECT_EQ(g2, i2.value_or(before2));
    EXPECT_EQ(g4, i4.value_or(before4));
    for (auto [got, sent] : {std::pair(g1, &s1), std::pair(g3, &s3), std::pair(g6, &s6)}) {
        EXPECT_EQ(got == untouched ? std::nullopt : text_of(got), *sent);
        if (got != untouched) ldap_memfree(got);
    }
    if (g5 != untouched_list) ldap_value_free(g5);
}

class ControlProperties : public ::testing::Test {
protected:
    void SetUp() override
    {
        LDAP *raw = nullptr;
        // Never connected: the controls only need a session to report through.
        ASSERT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:9"), LDAP_SUCCESS);
        ld_.reset(raw);
    }

    // Runs one property; the session's result code must say success after each call.
    void run(const char *name, const std::function<void(generate::Random &)> &property)
    {
        generate::Random rng;
        for (int i = 0, runs = generate::runs(); i < runs && !HasFailure(); ++i) {
            SCOPED_TRACE(testing::Message() << name << ": seed " << rng.seed_used() << " run " << i);
            int code = -1;
            ldap_set_option(ld_.get(), LDAP_OPT_RESULT_CODE, &code);
            property(rng);
            ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &code);
            EXPECT_EQ(code, LDAP_SUCCESS);
        }
    }

    ldaptest::Ldap ld_;
};

TEST_F(ControlProperties, RequestControlsHoldTheirFields)
{
    const std::pair<const char *, Creator> creators[] = {
        {"persistent search", persistent_search},   {"proxied authorisation", proxied_authorisation},
        {"effective privileges", effective_privileges}, {"status", status_request},
        {"reference", reference_request},
    };
    for (const auto &[name, create] : creators) {
        run(name, [&](generate::Random &rng) {
            Made m = create(rng, ld_.get());
            ldaptest::Control owned(m.control);
            ASSERT_EQ(m.rc, LDAP_SUCCESS);
            ASSERT_NE(m.control, nullptr);
            EXPECT_STREQ(m.control->ldctl_oid, m.oid);
            EXPECT_EQ(m.control->ldctl_iscritical != 0, m.critical);
            const berval &v = m.control->ldctl_value;
            EXPECT_EQ(v.bv_val ? std::optional<std::string>(std::string(v.bv_val, v.bv_len)) : std::nullopt, m.value);
        });
    }
}

TEST_F(ControlProperties, ResponseControlsGiveTheirFields)
{
    const std::pair<const char *, void (*)(generate::Random &, LDAP *)> parsers[] = {
        {"entry change", entry_change}, {"status", status_response}, {"reference", reference_response}};
    for (const auto &[name, parse] : parsers) run(name, [&](generate::Random &rng) { parse(rng, ld_.get()); });
}

}  // namespace
