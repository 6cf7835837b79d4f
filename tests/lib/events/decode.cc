#include "decode.h"

#include "core/alloc.h"

#include <cstring>
#include <map>

namespace events_test {

Decoder decoder_for(int tag)
{
    static const std::map<int, Decoder> decoders = {
        {0x61, parseEntryEventData},
        {0x62, parseValueEventData},
        {0x63, parseGeneralEventData},
        {0x64, parseSkulkEventData},
        {0x65, parseBinderyEventData},
        {0x66, parseSEVEventData},
        {0x67, parseModuleStateEventData},
        {0x69, parseConnectionStateData},
        {0x6c, parseChangeServerAddressData},
        {0x6d, parseChangeConfigParamData},
        {0x6f, parseStatusLogEventData},
        {0x70, parseDebugEventData},
        {0x71, parseAuthEventData},
        {0x72, parseConnectionEventData},
        {0x73, parseSearchEventData},
        {0x74, parseSearchEntryResponseEventData},
        {0x75,
         [](LDAP *ld, BerElement *ber, void **out, NetAddrEventData **address) {
             return parseUpdateEventData(ld, ber, 0, out, address);
         }},
        {0x76, parseCompareEventData},
        {0x77, parseModDNEventData},
        {0x78, parseAbandonEventData},
        {0x79, parseExtOpEventData},
        {0x7a, parseSysExtOpEventData},
        {0x7b, parseResponseEventData},
        {0x7c, parsePasswordModifyData},
        {0x7d, parseUnknownOp},
    };
    auto it = decoders.find(tag);
    return it == decoders.end() ? nullptr : it->second;
}

Ber reader(const std::string &bytes)
{
    struct berval bv;
    bv.bv_len = bytes.size();
    bv.bv_val = const_cast<char *>(bytes.data());
    return Ber(ber_init(&bv));
}

void decode(int tag, const std::string &contents, Decoded &out, LDAP *ld)
{
    Ber ber = reader(contents);
    out.rc = decoder_for(tag)(ld, ber.get(), &out.record, &out.address);
    ber_len_t left = 0;
    ber_get_option(ber.get(), LBER_OPT_BER_REMAINING_BYTES, &left);
    out.rest = contents.substr(contents.size() - left);
}

Handle::Handle() { ldap_initialize(&ld, "ldap://127.0.0.1:9"); }
Handle::~Handle() { ldap_unbind_ext_s(ld, nullptr, nullptr); }

int Handle::result_code() const
{
    int code = 12345;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

void Handle::set_result_code(int code) { ldap_set_option(ld, LDAP_OPT_RESULT_CODE, &code); }

namespace {
int g_fail_at = 0;
int g_seen = 0;
bool hook(std::size_t)
{
    ++g_seen;
    return g_fail_at != 0 && g_seen == g_fail_at;
}
}  // namespace

void fail_allocation(int n)
{
    g_fail_at = n;
    g_seen = 0;
    dirext::set_alloc_fail_hook(n ? hook : nullptr);
}

int allocations_seen() { return g_seen; }

}  // namespace events_test
