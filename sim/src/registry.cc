#include "registry.h"

#include <map>
#include <set>


namespace dirsim::detail {

namespace {
// Function-local statics: handler files register before main, in any order.
std::map<ber_tag_t, OpSpec> &operations()
{
    static std::map<ber_tag_t, OpSpec> table;
    return table;
}
std::map<std::string, ExtendedHandler> &extended()
{
    static std::map<std::string, ExtendedHandler> table;
    return table;
}
std::map<std::string, SaslHandler> &sasl()  // by upper-case mechanism
{
    static std::map<std::string, SaslHandler> table;
    return table;
}
std::set<std::string> &controls()
{
    static std::set<std::string> table;
    return table;
}
std::vector<RequestHook> &hooks()
{
    static std::vector<RequestHook> table;
    return table;
}
std::vector<StopHook> &on_stop()
{
    static std::vector<StopHook> table;
    return table;
}
std::vector<TreeSeed> &seeds()
{
    static std::vector<TreeSeed> table;
    return table;
}
std::string upper(const std::string &s)
{
    std::string out = s;
    for (auto &c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return out;
}
}  // namespace

void register_operation(ber_tag_t request_tag, OpSpec spec) { operations()[request_tag] = std::move(spec); }
void register_extended(const std::string &oid, ExtendedHandler handler) { extended()[oid] = std::move(handler); }
void register_sasl(const std::string &mechanism, SaslHandler handler) { sasl()[upper(mechanism)] = std::move(handler); }
void register_control(const std::string &oid) { controls().insert(oid); }
void register_hook(RequestHook hook) { hooks().push_back(std::move(hook)); }
void register_stop_hook(StopHook hook) { on_stop().push_back(std::move(hook)); }
void register_seed(TreeSeed seed) { seeds().push_back(std::move(seed)); }

const OpSpec *find_operation(ber_tag_t request_tag)
{
    auto it = operations().find(request_tag);
    return it == operations().end() ? nullptr : &it->second;
}

const ExtendedHandler *find_extended(const std::string &oid)
{
    auto it = extended().find(oid);
    return it == extended().end() ? nullptr : &it->second;
}

const SaslHandler *find_sasl(const std::string &mechanism)
{
    auto it = sasl().find(upper(mechanism));
    return it == sasl().end() ? nullptr : &it->second;
}

bool control_supported(const std::string &oid) { return controls().count(oid) != 0; }
const std::vector<RequestHook> &request_hooks() { return hooks(); }
const std::vector<StopHook> &stop_hooks() { return on_stop(); }
const std::vector<TreeSeed> &tree_seeds() { return seeds(); }

std::vector<std::string> extended_oids()
{
    std::vector<std::string> out;
    for (const auto &[oid, handler] : extended()) out.push_back(oid);
    return out;
}

std::vector<std::string> sasl_mechanisms()
{
    std::vector<std::string> out;
    for (const auto &[mech, handler] : sasl()) out.push_back(mech);
    return out;
}

std::vector<std::string> supported_controls() { return {controls().begin(), controls().end()}; }

}  // namespace dirsim::detail
