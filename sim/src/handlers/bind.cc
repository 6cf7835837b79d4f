// Bind: simple binds against the tree's userPassword values (plain text);
// SASL binds go to the mechanism registered for them.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

class Bind : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        ber_tag_t auth_tag;
        berval auth;
        if (!r.integer(LBER_INTEGER, version_) || !r.string(LBER_OCTETSTRING, request.dn) || !r.any(auth_tag, auth))
            return false;
        if (auth_tag == LDAP_AUTH_SIMPLE) {
            password_ = to_string(auth);
            request.detail = "simple";
            request.has_value = true;
            return true;
        }
        if (auth_tag != LDAP_AUTH_SASL) {
            other_method_ = true;  // decodable, but not a method this server has
            request.detail = "method " + std::to_string(auth_tag);
            return true;
        }
        Reader s(auth);
        sasl_ = true;
        if (!s.string(LBER_OCTETSTRING, mechanism_)) return false;
        if (s.peek() == LBER_OCTETSTRING) {
            std::string creds;
            if (!s.string(LBER_OCTETSTRING, creds)) return false;
            credentials_ = std::move(creds);
            request.has_value = true;
        }
        request.detail = "sasl " + mechanism_;
        return s.at_end();
    }

    std::string_view value() const override
    {
        if (sasl_) return credentials_ ? std::string_view(*credentials_) : std::string_view();
        return password_;
    }

    void serve(Exchange &ex) override
    {
        Session &session = ex.session();
        const std::string &dn = ex.request().dn;
        session.bound_dn.clear();  // a failed bind leaves the connection anonymous
        if (version_ != LDAP_VERSION2 && version_ != LDAP_VERSION3) {
            ex.result(LDAP_PROTOCOL_ERROR, "", "requested protocol version not allowed");
            return;
        }
        if (other_method_) {
            ex.result(LDAP_AUTH_METHOD_NOT_SUPPORTED, "", "unknown authentication method");
            return;
        }
        if (sasl_) {
            const SaslHandler *handler = find_sasl(mechanism_);
            if (!handler) {
                ex.result(LDAP_AUTH_METHOD_NOT_SUPPORTED, "", "SASL mechanism not supported");
                return;
            }
            (*handler)(ex, credentials_);
            return;
        }
        if (dn.empty() && password_.empty()) {  // anonymous
            ex.result(LDAP_SUCCESS);
            return;
        }
        if (password_.empty()) {  // RFC 4513 5.1.2: unauthenticated binds are refused
            ex.result(LDAP_UNWILLING_TO_PERFORM, "", "unauthenticated bind (DN with no password) disallowed");
            return;
        }
        auto ndn = ex.target();
        if (!ndn) return;
        bool ok = ex.tree().read([&](const EntryMap &entries) {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return false;
            const Attribute *pw = it->second.find("userPassword");
            if (!pw) return false;
            for (const auto &v : pw->values)
                if (v == password_) return true;  // an octet string: exact bytes
            return false;
        });
        if (!ok) {
            ex.result(LDAP_INVALID_CREDENTIALS);
            return;
        }
        session.bound_dn = dn;
        ex.result(LDAP_SUCCESS);
    }

private:
    ber_int_t version_ = 0;
    std::string password_;
    bool sasl_ = false;
    bool other_method_ = false;
    std::string mechanism_;
    std::optional<std::string> credentials_;
};

const Registrar registrar([] {
    register_operation(LDAP_REQ_BIND, {"bind", LDAP_RES_BIND, [] { return std::make_unique<Bind>(); }});
});

}  // namespace
}  // namespace dirsim::detail
