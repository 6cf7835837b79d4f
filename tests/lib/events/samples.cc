#include "samples.h"

namespace events_test {

using namespace wire;

std::string Sample::contents() const
{
    std::string out;
    for (const auto &p : pieces) out += p.bytes;
    return out;
}

std::vector<std::size_t> Sample::valid_cuts() const
{
    std::vector<std::size_t> cuts;
    std::size_t at = 0, last_required = 0;
    for (const auto &p : pieces) {
        at += p.bytes.size();
        if (!p.optional) last_required = at;
    }
    at = 0;
    bool in_address = false;  // a cut between two pieces of the address is no boundary
    for (const auto &p : pieces) {
        if (at >= last_required && !(in_address && p.address)) cuts.push_back(at);
        in_address = p.address;
        at += p.bytes.size();
    }
    cuts.push_back(at);
    return cuts;
}

std::pair<std::size_t, std::size_t> Sample::address_span() const
{
    std::size_t at = 0, begin = 0, end = 0;
    for (const auto &p : pieces) {
        if (p.address && end == 0) begin = at;
        at += p.bytes.size();
        if (p.address) end = at;
    }
    return {begin, end};
}

namespace {

Piece R(const std::string &bytes) { return {bytes}; }
Piece O(const std::string &bytes) { return {bytes, true}; }
Piece Addr(int type, const std::string &bytes) { return {address(type, bytes), true, true}; }

const std::string kAddr = "NetAddrEventData type=1 length=8 address=\"10.0.0.1\"";
const std::string kConn = "connection={11,12,\"conn\"}";

std::vector<Sample> build()
{
    std::vector<Sample> s;
    // 97 entry
    s.push_back({"entry_full", 0x61,
                 {R(octets("cn=a,o=x")), R(octets("")), R(octets("c")), R(triple(1, 2, 3)), R(integer(5)),
                  R(integer(-6)), O(octets("xyz")), Addr(1, "10.0.0.1")},
                 "EntryEventData string1=\"cn=a,o=x\" string2=null string3=\"c\" integer1=5 integer2=-6 "
                 "triple={1,2,3} data=\"xyz\"",
                 kAddr});
    s.push_back({"entry_minimal", 0x61,
                 {R(octets("a")), R(octets("b")), R(octets("c")), R(triple(0, 0, 0)), R(integer(0)), R(integer(70000))},
                 "EntryEventData string1=\"a\" string2=\"b\" string3=\"c\" integer1=0 integer2=70000 "
                 "triple={0,0,0} data=null",
                 "null"});
    s.push_back({"entry_empty_data_then_address", 0x61,
                 {R(octets("a")), R(octets("b")), R(octets("c")), R(triple(1, 1, 1)), R(integer(2)), R(integer(3)),
                  O(octets("")), Addr(1, "10.0.0.1")},
                 "EntryEventData string1=\"a\" string2=\"b\" string3=\"c\" integer1=2 integer2=3 "
                 "triple={1,1,1} data=null",
                 kAddr});
    // 98 value; the address's INTEGER alone would read as the optional integer
    s.push_back({"value_full", 0x62,
                 {R(octets("a")), R(octets("b")), R(octets("")), R(octets("d")), R(octets("e")), R(triple(7, 8, 9)),
                  O(octets(std::string("\0\1bin", 5))), O(integer(42)), Addr(1, "10.0.0.1")},
                 "ValueEventData integer1=42 string1=\"a\" string2=\"b\" string3=null string4=\"d\" string5=\"e\" "
                 "triple={7,8,9} dataLength=5 data=\"\\x00\\x01bin\"",
                 kAddr});
    s.push_back({"value_minimal", 0x62,
                 {R(octets("a")), R(octets("b")), R(octets("c")), R(octets("d")), R(octets("e")), R(triple(1, 2, 3))},
                 "ValueEventData integer1=0 string1=\"a\" string2=\"b\" string3=\"c\" string4=\"d\" string5=\"e\" "
                 "triple={1,2,3} dataLength=0 data=null",
                 "null"});
    // 99 general: the third and fourth wire integers swap slots
    s.push_back({"general_full", 0x63,
                 {R(integer(1)), R(integer(2)), R(integer(3)), R(integer(4)), R(octets("gen", 0x85)),
                  O(tlv(0x86, integer(10) + integer(20) + integer(30) + integer(40))),
                  O(tlv(0xa7, octets("a") + octets("") + octets("c") + octets("d"))), Addr(1, "10.0.0.1")},
                 "GeneralEventData integer1=1 integer2=2 integer4=4 integer3=3 string1=\"gen\" "
                 "intValues=[10,20,30,40] strValues=[\"a\",null,\"c\",\"d\"]",
                 kAddr});
    s.push_back({"general_minimal", 0x63,
                 {R(integer(1)), R(integer(2)), R(integer(3)), R(integer(4)), R(octets("", 0x85))},
                 "GeneralEventData integer1=1 integer2=2 integer4=4 integer3=3 string1=null "
                 "intValues=[0,0,0,0] strValues=[null,null,null,null]",
                 "null"});
    s.push_back({"general_partial_groups", 0x63,
                 {R(integer(1)), R(integer(2)), R(integer(3)), R(integer(4)), R(octets("g", 0x85)),
                  O(tlv(0x86, integer(-1))), O(tlv(0xa7, octets("x"))), Addr(1, "10.0.0.1")},
                 "GeneralEventData integer1=1 integer2=2 integer4=4 integer3=3 string1=\"g\" "
                 "intValues=[-1,0,0,0] strValues=[\"x\",null,null,null]",
                 kAddr});
    // 101 bindery
    s.push_back({"bindery", 0x65,
                 {R(octets("obj")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("prop")),
                  Addr(1, "10.0.0.1")},
                 "BinderyEventData string1=\"obj\" integer1=1 integer2=2 integer3=3 string2=\"prop\"", kAddr});
    // 102 SEV
    s.push_back({"sev_referrals", 0x66,
                 {R(octets("o=x")), R(integer(4)), R(octets("srv")),
                  O(seq({integer(2), seq({seq({integer(1), octets("10.1.1.1")}), seq({integer(9), octets("")})})})),
                  Addr(1, "10.0.0.1")},
                 "SEVEventData string1=\"o=x\" integer1=4 string2=\"srv\" referralCount=2 "
                 "referrals=[{1,8,\"10.1.1.1\"},{9,0,null}]",
                 kAddr});
    s.push_back({"sev_no_referrals", 0x66,
                 {R(octets("o=x")), R(integer(4)), R(octets("srv")), Addr(1, "10.0.0.1")},
                 "SEVEventData string1=\"o=x\" integer1=4 string2=\"srv\" referralCount=0 referrals=null", kAddr});
    // 103 module state
    s.push_back({"module_state", 0x67,
                 {R(octets("mod")), R(integer(3)), R(octets("short")), R(octets("")), R(octets("tail")),
                  Addr(1, "10.0.0.1")},
                 "ModuleStateEventData string1=\"mod\" integer1=3 string2=\"tail\" shortText=\"short\" longText=\"\"",
                 kAddr});
    s.push_back({"module_state_bounds", 0x67,
                 {R(octets("")), R(integer(0)), R(octets(std::string(31, 's'))), R(octets(std::string(127, 'l'))),
                  R(octets(""))},
                 "ModuleStateEventData string1=null integer1=0 string2=null shortText=\"" + std::string(31, 's') +
                     "\" longText=\"" + std::string(127, 'l') + "\"",
                 "null"});
    // 105 connection state
    s.push_back({"connection_state", 0x69,
                 {R(octets("cn=s")), R(integer(8)), R(integer(9)), R(octets("t")), Addr(1, "10.0.0.1")},
                 "ConnectionStateData string1=\"cn=s\" integer1=8 integer2=9 string2=\"t\"", kAddr});
    // 108 change server address
    s.push_back({"change_server_address", 0x6c,
                 {R(integer(1)), R(integer(2)), R(integer(3)), R(octets(std::string("\x7f\0\0\x01", 4))),
                  R(octets("old")), R(octets("new")), Addr(1, "10.0.0.1")},
                 "ChangeServerAddressData integer1=1 integer2=2 integer3=3 dataLength=4 data=\"\\x7f\\x00\\x00\\x01\" "
                 "string1=\"old\" string2=\"new\"",
                 kAddr});
    s.push_back({"change_server_address_empty", 0x6c,
                 {R(integer(1)), R(integer(2)), R(integer(3)), R(octets("")), R(octets("")), R(octets(""))},
                 "ChangeServerAddressData integer1=1 integer2=2 integer3=3 dataLength=0 data=null string1=null "
                 "string2=null",
                 "null"});
    // 109 configuration parameter, one per accepted type
    s.push_back({"config_type0", 0x6d, {R(integer(0)), R(octets("p0")), R(tlv(0x85, "")), Addr(1, "10.0.0.1")},
                 "ChangeConfigParamData paramType=0 paramName=\"p0\" intValue=0 strValue=null dataLength=0 data=null",
                 kAddr});
    s.push_back({"config_type1", 0x6d, {R(integer(1)), R(octets("p1")), R(octets("blob", 0x83))},
                 "ChangeConfigParamData paramType=1 paramName=\"p1\" intValue=0 strValue=null dataLength=4 "
                 "data=\"blob\"",
                 "null"});
    s.push_back({"config_type2", 0x6d, {R(integer(2)), R(octets("p2")), R(integer(7, 0x82))},
                 "ChangeConfigParamData paramType=2 paramName=\"p2\" intValue=7 strValue=null dataLength=0 data=null",
                 "null"});
    s.push_back({"config_type3", 0x6d, {R(integer(3)), R(octets("p3")), R(octets("text", 0x84)), Addr(1, "10.0.0.1")},
                 "ChangeConfigParamData paramType=3 paramName=\"p3\" intValue=0 strValue=\"text\" dataLength=0 "
                 "data=null",
                 kAddr});
    s.push_back({"config_type5", 0x6d, {R(integer(5)), R(octets("p5")), R(integer(-1, 0x81))},
                 "ChangeConfigParamData paramType=5 paramName=\"p5\" intValue=-1 strValue=null dataLength=0 data=null",
                 "null"});
    // 111 status log
    s.push_back({"status_log", 0x6f,
                 {R(integer(6)), R(octets("1")), R(octets("2")), R(octets("")), R(octets("4")), R(octets("5")),
                  R(octets("6")), Addr(1, "10.0.0.1")},
                 "StatusLogEventData integer1=6 string1=\"1\" string2=\"2\" string3=null string4=\"4\" string5=\"5\" "
                 "string6=\"6\"",
                 kAddr});
    // 112 debug, one parameter of every type
    s.push_back({"debug_all_parameters", 0x70,
                 {R(integer(1)), R(integer(2)), R(octets("dbg")), R(octets("")), R(integer(3)), R(integer(9)),
                  R(seq({integer(5, 0x81), octets("str", 0x82), octets("dat", 0x83), integer(6, 0x84),
                         tlv(0x85, integer(7) + octets("d5")), tlv(0x86, integer(1) + integer(2) + integer(3)),
                         tlv(0x87, integer(2) + seq({triple(1, 2, 3), triple(4, 5, 6)})), octets("", 0x82),
                         tlv(0x85, integer(8) + octets(""))})),
                  Addr(1, "10.0.0.1")},
                 "DebugEventData integer1=1 integer2=2 string1=\"dbg\" string2=null integer3=3 paramCount=9 "
                 "params=[{type=1 int=5},{type=2 str=\"str\"},{type=3 data=3:\"dat\"},{type=4 int=6},"
                 "{type=5 int=7 data=2:\"d5\"},{type=6 triple={1,2,3}},{type=7 triples=[{1,2,3},{4,5,6}]},"
                 "{type=2 str=null},{type=5 int=8 data=0:null}]",
                 kAddr});
    s.push_back({"debug_no_parameters", 0x70,
                 {R(integer(1)), R(integer(2)), R(octets("a")), R(octets("b")), R(integer(3)), R(integer(0))},
                 "DebugEventData integer1=1 integer2=2 string1=\"a\" string2=\"b\" integer3=3 paramCount=0 params=null",
                 "null"});
    // 113 authentication
    s.push_back({"auth_full", 0x71,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("cn=u")), R(integer(3)),
                  R(octets("simple")), R(integer(4)), O(string_list({"a", "b"}, 0x80)), Addr(1, "10.0.0.1")},
                 "AuthEventData " + kConn + " integer1=1 integer2=2 string1=\"cn=u\" integer3=3 string2=\"simple\" "
                 "list1=[\"a\",\"b\"] integer4=4",
                 kAddr});
    s.push_back({"auth_no_list", 0x71,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("")), R(integer(3)),
                  R(octets("x")), R(integer(4)), Addr(1, "10.0.0.1")},
                 "AuthEventData " + kConn + " integer1=1 integer2=2 string1=null integer3=3 string2=\"x\" "
                 "list1=null integer4=4",
                 kAddr});
    // 114 connection
    s.push_back({"connection", 0x72, {R(integer(1)), R(integer(2)), R(octets("c")), Addr(1, "10.0.0.1")},
                 "ConnectionEventData integer1=1 integer2=2 string1=\"c\"", kAddr});
    // 115 search
    s.push_back({"search_full", 0x73,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("o=x")), R(octets("(cn=*)")),
                  R(integer(3)), R(octets("s3")), R(integer(4)), O(string_list({"cn", "sn"})),
                  O(string_list({"x"}, 0x80)), Addr(1, "10.0.0.1")},
                 "SearchEventData " + kConn + " integer1=1 integer2=2 string1=\"o=x\" string2=\"(cn=*)\" integer3=3 "
                 "string3=\"s3\" list1=[\"cn\",\"sn\"] list2=[\"x\"] integer4=4",
                 kAddr});
    s.push_back({"search_ends_after_integer4", 0x73,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("o=x")), R(octets("f")),
                  R(integer(3)), R(octets("")), R(integer(4))},
                 "SearchEventData " + kConn + " integer1=1 integer2=2 string1=\"o=x\" string2=\"f\" integer3=3 "
                 "string3=null list1=null list2=null integer4=4",
                 "null"});
    // 116 search entry response
    s.push_back({"search_entry_response", 0x74,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("cn=e")), R(octets("x")),
                  R(integer(3)), O(string_list({"", "v"}))},
                 "SearchEntryResponseEventData " + kConn + " integer1=1 integer2=2 string1=\"cn=e\" string2=\"x\" "
                 "list1=[\"\",\"v\"] integer3=3",
                 "null"});
    s.push_back({"search_entry_response_empty_list", 0x74,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("cn=e")), R(octets("x")),
                  R(integer(3)), O(string_list({}))},
                 "SearchEntryResponseEventData " + kConn + " integer1=1 integer2=2 string1=\"cn=e\" string2=\"x\" "
                 "list1=[] integer3=3",
                 "null"});
    // 117 update
    s.push_back({"update_full", 0x75,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("cn=a")),
                  R(octets("b")), R(octets("c")), R(integer(4)), O(string_list({"m"}, 0x80)), Addr(1, "10.0.0.1")},
                 "UpdateEventData " + kConn + " integer1=1 integer2=2 integer3=3 string1=\"cn=a\" string2=\"b\" "
                 "string3=\"c\" list1=[\"m\"] integer4=4",
                 kAddr});
    s.push_back({"update_no_list", 0x75,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("cn=a")),
                  R(octets("b")), R(octets("c")), R(integer(4))},
                 "UpdateEventData " + kConn + " integer1=1 integer2=2 integer3=3 string1=\"cn=a\" string2=\"b\" "
                 "string3=\"c\" list1=null integer4=4",
                 "null"});
    // 118 compare
    s.push_back({"compare", 0x76,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("1")), R(octets("2")),
                  R(octets("3")), R(octets("4")), R(octets("5")), R(integer(3)), Addr(1, "10.0.0.1")},
                 "CompareEventData " + kConn + " integer1=1 integer2=2 string1=\"1\" string2=\"2\" string3=\"3\" "
                 "string4=\"4\" string5=\"5\" integer3=3",
                 kAddr});
    // 119 modify DN
    s.push_back({"moddn", 0x77,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("cn=a")), R(octets("cn=b")),
                  R(octets("o=y")), R(octets("")), R(integer(3)), O(string_list({"c1", "c2"}, 0x80)),
                  Addr(1, "10.0.0.1")},
                 "ModDNEventData " + kConn + " integer1=1 integer2=2 string1=\"cn=a\" string2=\"cn=b\" "
                 "string3=\"o=y\" string4=null list1=[\"c1\",\"c2\"] integer3=3",
                 kAddr});
    // 120 abandon
    s.push_back({"abandon", 0x78,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("x")),
                  R(integer(4)), Addr(1, "10.0.0.1")},
                 "AbandonEventData " + kConn + " integer1=1 integer2=2 integer3=3 string1=\"x\" integer4=4", kAddr});
    // 121 extended operation
    s.push_back({"extop", 0x79,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("1.2.3")),
                  R(octets("v")), R(integer(4)), Addr(1, "10.0.0.1")},
                 "ExtOpEventData " + kConn + " integer1=1 integer2=2 integer3=3 string1=\"1.2.3\" string2=\"v\" "
                 "integer4=4",
                 kAddr});
    // 122 system extended operation
    s.push_back({"sys_extop", 0x7a,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(octets("1")),
                  R(octets("2")), R(octets("3")), R(octets("4")), R(octets("5")), R(octets("6")), R(integer(4)),
                  Addr(1, "10.0.0.1")},
                 "SysExtOpEventData " + kConn + " integer1=1 integer2=2 integer3=3 string1=\"1\" string2=\"2\" "
                 "string3=\"3\" string4=\"4\" string5=\"5\" string6=\"6\" integer4=4",
                 kAddr});
    // 123 response: its list is behind 0x81
    s.push_back({"response_full", 0x7b,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(integer(3)), R(integer(4)),
                  R(octets("ok")), O(string_list({"ldap://r/"}, 0x81)), Addr(1, "10.0.0.1")},
                 "ResponseEventData " + kConn + " integer1=1 integer2=2 integer3=3 integer4=4 string1=\"ok\" "
                 "list1=[\"ldap://r/\"]",
                 kAddr});
    // 124 password modify
    s.push_back({"password_modify", 0x7c,
                 {R(connection(11, 12, "conn")), R(integer(1)), R(integer(2)), R(octets("cn=u")), R(octets("")),
                  R(integer(3)), R(integer(4)), Addr(1, "10.0.0.1")},
                 "PasswordModifyData " + kConn + " integer1=1 integer2=2 string1=\"cn=u\" string2=null integer3=3 "
                 "integer4=4",
                 kAddr});
    // 125 unclassified operation
    s.push_back({"unknown_op", 0x7d, {R(integer(99)), R(octets("op")), Addr(1, "10.0.0.1")},
                 "UnknownOpData integer1=99 string1=\"op\"", kAddr});
    return s;
}

}  // namespace

const std::vector<Sample> &samples()
{
    static const std::vector<Sample> all = build();
    return all;
}

}  // namespace events_test
