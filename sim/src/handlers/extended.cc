// Extended requests: decoded here and handed to the handler registered for
// the request name.  Names nobody registered get what slapd answers.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

class Extended : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        if (!r.string(LDAP_TAG_EXOP_REQ_OID, request.oid) || request.oid.empty()) return false;
        if (r.peek() == LDAP_TAG_EXOP_REQ_VALUE) {
            std::string v;
            if (!r.string(LDAP_TAG_EXOP_REQ_VALUE, v)) return false;
            value_ = std::move(v);
            request.has_value = true;
        }
        return r.at_end();
    }

    std::string_view value() const override { return value_ ? std::string_view(*value_) : std::string_view(); }

    void serve(Exchange &ex) override
    {
        if (const ExtendedHandler *handler = find_extended(ex.request().oid)) {
            (*handler)(ex, value_);
            return;
        }
        ex.result(LDAP_PROTOCOL_ERROR, "", "unsupported extended operation");
    }

private:
    std::optional<std::string> value_;
};

const Registrar registrar([] {
    register_operation(LDAP_REQ_EXTENDED,
                       {"extended", LDAP_RES_EXTENDED, [] { return std::make_unique<Extended>(); }});
});

}  // namespace
}  // namespace dirsim::detail
