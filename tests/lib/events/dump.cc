#include "dump.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace events_test {

std::string quote(const char *s, std::size_t n)
{
    if (!s) return "null";
    std::string out = "\"";
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = s[i];
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out + "\"";
}

std::string quote(const char *s) { return s ? quote(s, std::strlen(s)) : "null"; }

namespace {

class Line {
public:
    explicit Line(const char *record) { out_ << record; }
    Line &i(const char *name, int32_t v) { return put(name, std::to_string(v)); }
    Line &s(const char *name, const char *v) { return put(name, quote(v)); }
    Line &t(const char *name, const EventTriple &v) { return put(name, triple(v)); }
    Line &conn(const ConnectionData *c)
    {
        if (!c) return put("connection", "null");
        return put("connection", "{" + std::to_string(c->integer1) + "," + std::to_string(c->integer2) + "," +
                                     quote(c->string1) + "}");
    }
    Line &list(const char *name, char **l)
    {
        if (!l) return put(name, "null");
        std::string v = "[";
        for (char **p = l; *p; ++p) v += (p == l ? "" : ",") + quote(*p);
        return put(name, v + "]");
    }
    Line &raw(const char *name, const std::string &v) { return put(name, v); }
    std::string str() const { return out_.str(); }

    static std::string triple(const EventTriple &v)
    {
        return "{" + std::to_string(v.integer1) + "," + std::to_string(v.integer2) + "," +
               std::to_string(v.integer3) + "}";
    }

private:
    Line &put(const char *name, const std::string &v)
    {
        out_ << ' ' << name << '=' << v;
        return *this;
    }
    std::ostringstream out_;
};

std::string params(const DebugEventData &d)
{
    if (!d.params) return "null";
    std::string v = "[";
    for (int32_t k = 0; k < d.paramCount; ++k) {
        const DebugParameter &p = d.params[k];
        if (k) v += ",";
        v += "{type=" + std::to_string(p.type);
        switch (p.type) {
        case 1:
        case 4:
            v += " int=" + std::to_string(p.intValue);
            break;
        case 2:
            v += " str=" + quote(p.strValue);
            break;
        case 3:
            v += " data=" + std::to_string(p.dataLength) + ":" + quote(p.data);
            break;
        case 5:
            v += " int=" + std::to_string(p.intValue) + " data=" + std::to_string(p.dataLength) + ":" + quote(p.data);
            break;
        case 6:
            v += " triple=" + Line::triple(p.triple);
            break;
        case 7:
            v += " triples=[";
            for (int32_t j = 0; j < p.tripleCount; ++j) v += (j ? "," : "") + Line::triple(p.triples[j]);
            v += "]";
            break;
        }
        v += "}";
    }
    return v + "]";
}

}  // namespace

std::string dump(const void *record)
{
    if (!record) return "null";
    switch (DIREXT_EVENT_KIND(record)) {
    case DIREXT_EVENT_ENTRY: {
        auto &r = *static_cast<const EntryEventData *>(record);
        return Line("EntryEventData").s("string1", r.string1).s("string2", r.string2).s("string3", r.string3)
            .i("integer1", r.integer1).i("integer2", r.integer2).t("triple", r.triple).s("data", r.data).str();
    }
    case DIREXT_EVENT_VALUE: {
        auto &r = *static_cast<const ValueEventData *>(record);
        return Line("ValueEventData").i("integer1", r.integer1).s("string1", r.string1).s("string2", r.string2)
            .s("string3", r.string3).s("string4", r.string4).s("string5", r.string5).t("triple", r.triple)
            .i("dataLength", r.dataLength).raw("data", quote(r.data, r.dataLength)).str();
    }
    case DIREXT_EVENT_GENERAL: {
        auto &r = *static_cast<const GeneralEventData *>(record);
        std::string ints = "[", strs = "[";
        for (int k = 0; k < 4; ++k) {
            ints += (k ? "," : "") + std::to_string(r.intValues[k]);
            strs += (k ? "," : "") + quote(r.strValues[k]);
        }
        return Line("GeneralEventData").i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer4", r.integer4).i("integer3", r.integer3).s("string1", r.string1)
            .raw("intValues", ints + "]").raw("strValues", strs + "]").str();
    }
    case DIREXT_EVENT_BINDERY: {
        auto &r = *static_cast<const BinderyEventData *>(record);
        return Line("BinderyEventData").s("string1", r.string1).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).s("string2", r.string2).str();
    }
    case DIREXT_EVENT_SEV: {
        auto &r = *static_cast<const SEVEventData *>(record);
        std::string refs = r.referrals ? "[" : "null";
        for (int32_t k = 0; r.referrals && k < r.referralCount; ++k)
            refs += std::string(k ? "," : "") + "{" + std::to_string(r.referrals[k].type) + "," +
                    std::to_string(r.referrals[k].length) + "," +
                    quote(r.referrals[k].data, r.referrals[k].data ? r.referrals[k].length : 0) + "}";
        if (r.referrals) refs += "]";
        return Line("SEVEventData").s("string1", r.string1).i("integer1", r.integer1).s("string2", r.string2)
            .i("referralCount", r.referralCount).raw("referrals", refs).str();
    }
    case DIREXT_EVENT_MODULE_STATE: {
        auto &r = *static_cast<const ModuleStateEventData *>(record);
        return Line("ModuleStateEventData").s("string1", r.string1).i("integer1", r.integer1)
            .s("string2", r.string2).s("shortText", r.shortText).s("longText", r.longText).str();
    }
    case DIREXT_EVENT_NET_ADDRESS: {
        auto &r = *static_cast<const NetAddrEventData *>(record);
        return Line("NetAddrEventData").i("type", r.type).i("length", r.length)
            .raw("address", quote(r.address, r.length)).str();
    }
    case DIREXT_EVENT_CONNECTION_STATE: {
        auto &r = *static_cast<const ConnectionStateData *>(record);
        return Line("ConnectionStateData").s("string1", r.string1).i("integer1", r.integer1)
            .i("integer2", r.integer2).s("string2", r.string2).str();
    }
    case DIREXT_EVENT_CHANGE_SERVER_ADDRESS: {
        auto &r = *static_cast<const ChangeServerAddressData *>(record);
        return Line("ChangeServerAddressData").i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).i("dataLength", r.dataLength).raw("data", quote(r.data, r.dataLength))
            .s("string1", r.string1).s("string2", r.string2).str();
    }
    case DIREXT_EVENT_CHANGE_CONFIG_PARAM: {
        auto &r = *static_cast<const ChangeConfigParamData *>(record);
        return Line("ChangeConfigParamData").i("paramType", r.paramType).s("paramName", r.paramName)
            .i("intValue", r.intValue).s("strValue", r.strValue).i("dataLength", r.dataLength)
            .raw("data", quote(r.data, r.dataLength)).str();
    }
    case DIREXT_EVENT_STATUS_LOG: {
        auto &r = *static_cast<const StatusLogEventData *>(record);
        return Line("StatusLogEventData").i("integer1", r.integer1).s("string1", r.string1).s("string2", r.string2)
            .s("string3", r.string3).s("string4", r.string4).s("string5", r.string5).s("string6", r.string6).str();
    }
    case DIREXT_EVENT_DEBUG: {
        auto &r = *static_cast<const DebugEventData *>(record);
        return Line("DebugEventData").i("integer1", r.integer1).i("integer2", r.integer2).s("string1", r.string1)
            .s("string2", r.string2).i("integer3", r.integer3).i("paramCount", r.paramCount)
            .raw("params", params(r)).str();
    }
    case DIREXT_EVENT_AUTH: {
        auto &r = *static_cast<const AuthEventData *>(record);
        return Line("AuthEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).i("integer3", r.integer3).s("string2", r.string2).list("list1", r.list1)
            .i("integer4", r.integer4).str();
    }
    case DIREXT_EVENT_CONNECTION: {
        auto &r = *static_cast<const ConnectionEventData *>(record);
        return Line("ConnectionEventData").i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).str();
    }
    case DIREXT_EVENT_SEARCH: {
        auto &r = *static_cast<const SearchEventData *>(record);
        return Line("SearchEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).s("string2", r.string2).i("integer3", r.integer3).s("string3", r.string3)
            .list("list1", r.list1).list("list2", r.list2).i("integer4", r.integer4).str();
    }
    case DIREXT_EVENT_SEARCH_ENTRY_RESPONSE: {
        auto &r = *static_cast<const SearchEntryResponseEventData *>(record);
        return Line("SearchEntryResponseEventData").conn(r.connection).i("integer1", r.integer1)
            .i("integer2", r.integer2).s("string1", r.string1).s("string2", r.string2).list("list1", r.list1)
            .i("integer3", r.integer3).str();
    }
    case DIREXT_EVENT_UPDATE: {
        auto &r = *static_cast<const UpdateEventData *>(record);
        return Line("UpdateEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).s("string1", r.string1).s("string2", r.string2).s("string3", r.string3)
            .list("list1", r.list1).i("integer4", r.integer4).str();
    }
    case DIREXT_EVENT_COMPARE: {
        auto &r = *static_cast<const CompareEventData *>(record);
        return Line("CompareEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).s("string2", r.string2).s("string3", r.string3).s("string4", r.string4)
            .s("string5", r.string5).i("integer3", r.integer3).str();
    }
    case DIREXT_EVENT_MODDN: {
        auto &r = *static_cast<const ModDNEventData *>(record);
        return Line("ModDNEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).s("string2", r.string2).s("string3", r.string3).s("string4", r.string4)
            .list("list1", r.list1).i("integer3", r.integer3).str();
    }
    case DIREXT_EVENT_ABANDON: {
        auto &r = *static_cast<const AbandonEventData *>(record);
        return Line("AbandonEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).s("string1", r.string1).i("integer4", r.integer4).str();
    }
    case DIREXT_EVENT_EXTOP: {
        auto &r = *static_cast<const ExtOpEventData *>(record);
        return Line("ExtOpEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).s("string1", r.string1).s("string2", r.string2).i("integer4", r.integer4)
            .str();
    }
    case DIREXT_EVENT_SYS_EXTOP: {
        auto &r = *static_cast<const SysExtOpEventData *>(record);
        return Line("SysExtOpEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).s("string1", r.string1).s("string2", r.string2).s("string3", r.string3)
            .s("string4", r.string4).s("string5", r.string5).s("string6", r.string6).i("integer4", r.integer4)
            .str();
    }
    case DIREXT_EVENT_RESPONSE: {
        auto &r = *static_cast<const ResponseEventData *>(record);
        return Line("ResponseEventData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .i("integer3", r.integer3).i("integer4", r.integer4).s("string1", r.string1).list("list1", r.list1)
            .str();
    }
    case DIREXT_EVENT_PASSWORD_MODIFY: {
        auto &r = *static_cast<const PasswordModifyData *>(record);
        return Line("PasswordModifyData").conn(r.connection).i("integer1", r.integer1).i("integer2", r.integer2)
            .s("string1", r.string1).s("string2", r.string2).i("integer3", r.integer3).i("integer4", r.integer4)
            .str();
    }
    case DIREXT_EVENT_UNKNOWN_OP: {
        auto &r = *static_cast<const UnknownOpData *>(record);
        return Line("UnknownOpData").i("integer1", r.integer1).s("string1", r.string1).str();
    }
    default:
        return "kind " + std::to_string(DIREXT_EVENT_KIND(record));
    }
}

}  // namespace events_test
