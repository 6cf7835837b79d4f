// Unbind and abandon: the operations without a response.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

class Unbind : public Operation {
public:
    bool decode(const berval &body, Request &) override { return body.bv_len == 0; }
    void serve(Exchange &ex) override { ex.close_connection(); }
};

class Abandon : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        // The body is the INTEGER's contents (the tag is implicit).
        if (body.bv_len == 0 || body.bv_len > 4) return false;
        ber_int_t id = (static_cast<unsigned char>(body.bv_val[0]) & 0x80) ? -1 : 0;
        for (ber_len_t i = 0; i < body.bv_len; ++i)
            id = ber_int_t((unsigned(id) << 8) | static_cast<unsigned char>(body.bv_val[i]));
        request.detail = "msgid=" + std::to_string(id);
        return true;
    }
    // Every request is answered before the next is read, so there is never
    // anything left to abandon.
    void serve(Exchange &) override {}
};

const Registrar registrar([] {
    register_operation(LDAP_REQ_UNBIND, {"unbind", 0, [] { return std::make_unique<Unbind>(); }});
    register_operation(LDAP_REQ_ABANDON, {"abandon", 0, [] { return std::make_unique<Abandon>(); }});
});

}  // namespace
}  // namespace dirsim::detail
