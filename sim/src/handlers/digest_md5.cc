// SASL DIGEST-MD5 (RFC 2831), server side, authentication only.  Written
// apart from libdirext on purpose: its own reader for the client's response
// and OpenSSL's MD5, so that a mistake in the library cannot repeat here.
//
// Settings live in the tree, in the entry cn=DIGEST-MD5,cn=SASL,cn=config
// (absent: the defaults), so a test changes them with Server::set_values:
//   saslRealm  the realms offered, in this order (default: one, "lab")
//   saslQop    the qop value offered (default "auth")
//   saslFault  test switches, any of:
//     success-first   answer the first bind with success, without a challenge
//     stale           mark the challenge stale=true
//     no-realm        offer no realm at all
//     wrong-rspauth   verify the response, then send a wrong rspauth
//     no-rspauth      verify, then send credentials without rspauth
//     no-credentials  verify, then send no server credentials at all
// Users are the entries with a userPassword whose uid, or the value of whose
// first RDN, equals the username; their plain-text passwords are checked.
#include <ldap.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <map>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr char kMechanism[] = "DIGEST-MD5";
constexpr char kSettingsDn[] = "cn=DIGEST-MD5,cn=SASL,cn=config";

struct Settings {
    std::vector<std::string> realms{"lab"};
    std::string qop = "auth";
    std::vector<std::string> faults;
    bool fault(const std::string &name) const
    {
        return std::find(faults.begin(), faults.end(), name) != faults.end();
    }
};

// What the first step told the client.
struct Pending {
    std::string nonce;
    Settings settings;
};

Settings read_settings(Exchange &ex)
{
    Settings s;
    const std::string key = normalize_dn(kSettingsDn).value_or("");
    ex.tree().read([&](const EntryMap &entries) {
        auto it = entries.find(key);
        if (it == entries.end()) return 0;
        if (const Attribute *a = it->second.find("saslRealm")) s.realms = a->values;
        if (const Attribute *a = it->second.find("saslQop"); a && !a->values.empty()) s.qop = a->values[0];
        if (const Attribute *a = it->second.find("saslFault")) s.faults = a->values;
        return 0;
    });
    if (s.fault("no-realm")) s.realms.clear();
    return s;
}

std::string md5(const std::string &data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char *>(out), n);
}

std::string hex(const std::string &raw)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : raw) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string quote(const std::string &v)
{
    std::string q = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

std::string new_nonce()
{
    unsigned char raw[24];
    RAND_bytes(raw, sizeof raw);
    unsigned char b64[4 * sizeof raw / 3 + 1];
    EVP_EncodeBlock(b64, raw, sizeof raw);
    return reinterpret_cast<char *>(b64);
}

// The client's response as name -> value; nothing when it does not read as
// a comma-separated list of name=value or name="quoted value".  A name given
// twice is refused, as RFC 2831 requires for every directive it defines.
std::optional<std::map<std::string, std::string>> read_response(const std::string &text)
{
    std::map<std::string, std::string> out;
    size_t i = 0;
    auto skip_space = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    };
    while (true) {
        skip_space();
        if (i == text.size()) break;
        size_t eq = text.find('=', i);
        if (eq == std::string::npos) return std::nullopt;
        std::string name = text.substr(i, eq - i);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name.empty()) return std::nullopt;
        i = eq + 1;
        skip_space();
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '\\' && i < text.size()) {
                    value += text[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) return std::nullopt;
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != ' ') value += text[i++];
        }
        if (!out.emplace(name, value).second) return std::nullopt;
        skip_space();
        if (i == text.size()) break;
        if (text[i] != ',') return std::nullopt;
        ++i;
    }
    return out;
}

struct User {
    std::string dn;
    std::vector<std::string> passwords;
};

std::optional<User> find_user(Exchange &ex, const std::string &name)
{
    return ex.tree().read([&](const EntryMap &entries) -> std::optional<User> {
        for (const auto &[ndn, entry] : entries) {
            const Attribute *pw = entry.find("userPassword");
            if (!pw) continue;
            bool match = false;
            if (const Attribute *uid = entry.find("uid"))
                for (const auto &v : uid->values) match = match || values_equal(v, name);
            if (auto rdn = first_rdn(entry.dn); rdn && !rdn->empty()) match = match || values_equal(rdn->front().second, name);
            if (match) return User{entry.dn, pw->values};
        }
        return std::nullopt;
    });
}

// RFC 2831 2.1.2.1: response-value, and with an empty method the rspauth.
std::string digest(const std::map<std::string, std::string> &r, const std::string &password,
                   const std::string &method)
{
    auto get = [&](const char *k) {
        auto it = r.find(k);
        return it == r.end() ? std::string() : it->second;
    };
    std::string a1 = md5(get("username") + ":" + get("realm") + ":" + password) + ":" + get("nonce") + ":" +
                     get("cnonce");
    if (r.count("authzid")) a1 += ":" + get("authzid");
    const std::string a2 = method + ":" + get("digest-uri");
    return hex(md5(hex(md5(a1)) + ":" + get("nonce") + ":" + get("nc") + ":" + get("cnonce") + ":" + get("qop") +
                   ":" + hex(md5(a2))));
}

void challenge(Exchange &ex)
{
    Settings settings = read_settings(ex);
    Session &session = ex.session();
    if (settings.fault("success-first")) {
        session.sasl_state.reset();
        ex.result(LDAP_SUCCESS);
        return;
    }
    auto pending = std::make_shared<Pending>();
    pending->nonce = new_nonce();
    std::string text;
    for (const auto &realm : settings.realms) text += "realm=" + quote(realm) + ",";
    text += "nonce=" + quote(pending->nonce) + ",qop=" + quote(settings.qop) + ",maxbuf=65536,charset=utf-8,algorithm=md5-sess";
    if (settings.fault("stale")) text += ",stale=true";
    pending->settings = std::move(settings);
    session.sasl_state = pending;
    session.sasl_mechanism = kMechanism;
    Reply reply;
    reply.result_code = LDAP_SASL_BIND_IN_PROGRESS;
    reply.response_value = text;
    ex.respond(reply);
}

bool fail(Exchange &ex, const std::string &why)
{
    return ex.result(LDAP_INVALID_CREDENTIALS, "", "SASL(-13): authentication failure: " + why);
}

bool verify(Exchange &ex, const std::string &credentials)
{
    Session &session = ex.session();
    std::shared_ptr<Pending> pending;
    if (session.sasl_mechanism == kMechanism) pending = std::static_pointer_cast<Pending>(session.sasl_state);
    session.sasl_state.reset();  // one response per challenge
    session.sasl_mechanism.clear();
    if (!pending) return fail(ex, "no DIGEST-MD5 exchange in progress");

    auto r = read_response(credentials);
    if (!r) return ex.result(LDAP_PROTOCOL_ERROR, "", "SASL(-5): bad protocol / cancel: malformed response");
    for (const char *required : {"username", "nonce", "cnonce", "nc", "qop", "digest-uri", "response"})
        if (!r->count(required)) return fail(ex, std::string("missing ") + required);
    const Settings &s = pending->settings;
    if ((*r)["nonce"] != pending->nonce) return fail(ex, "nonce does not match");
    if ((*r)["nc"] != "00000001") return fail(ex, "bad nonce count");
    if ((*r)["qop"] != "auth") return fail(ex, "only qop auth is offered");
    if ((*r)["digest-uri"].rfind("ldap/", 0) != 0) return fail(ex, "digest-uri is not for ldap");
    if (r->count("charset") && (*r)["charset"] != "utf-8") return fail(ex, "bad charset");
    if (r->count("realm") &&
        std::find(s.realms.begin(), s.realms.end(), (*r)["realm"]) == s.realms.end())
        return fail(ex, "realm was not offered");

    auto user = find_user(ex, (*r)["username"]);
    if (!user) return fail(ex, "no such user");
    const auto good = std::find_if(user->passwords.begin(), user->passwords.end(), [&](const std::string &pw) {
        return digest(*r, pw, "AUTHENTICATE") == (*r)["response"];
    });
    if (good == user->passwords.end()) return fail(ex, "wrong response");

    session.bound_dn = user->dn;
    std::string rspauth = digest(*r, *good, "");
    Reply reply;
    if (s.fault("wrong-rspauth")) {
        rspauth[0] = rspauth[0] == '0' ? '1' : '0';
        reply.response_value = "rspauth=" + rspauth;
    } else if (s.fault("no-rspauth")) {
        reply.response_value = "x-note=\"no rspauth\"";
    } else if (!s.fault("no-credentials")) {
        reply.response_value = "rspauth=" + rspauth;
    }
    return ex.respond(reply);
}

const Registrar registrar([] {
    register_sasl(kMechanism, [](Exchange &ex, const std::optional<std::string> &credentials) {
        if (!credentials)
            challenge(ex);
        else
            verify(ex, *credentials);
    });
});

}  // namespace
}  // namespace dirsim::detail
