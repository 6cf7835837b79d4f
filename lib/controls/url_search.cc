// Searches described by an LDAP URL, sent as ordinary searches of the
// caller's session.
#include "controls/internal.h"

namespace dirext::controls {
namespace {

// The message id, or -1 with the session's result code saying why.
int url_search(LDAP *ld, const char *url, int attrsonly)
{
    LDAPURLDesc *raw = nullptr;
    if (!url || ldap_url_parse(url, &raw) != LDAP_URL_SUCCESS) {
        store_result(ld, LDAP_PARAM_ERROR);
        return -1;
    }
    const UrlDescPtr desc(raw);
    if (desc->lud_crit_exts > 0) {
        store_result(ld, LDAP_NOT_SUPPORTED);
        return -1;
    }
    // libldap's public search builds and registers the request under its own
    // locks; no time-out argument, and -1 as size limit, mean the session's
    // defaults, as for any other search of the session.
    int msgid = -1;
    if (ldap_search_ext(ld, desc->lud_dn, desc->lud_scope, desc->lud_filter, desc->lud_attrs, attrsonly, nullptr,
                        nullptr, nullptr, -1, &msgid) != LDAP_SUCCESS)
        return -1;
    return msgid;
}

// Waits for the whole result of the search; timeout null waits without limit.
int url_search_wait(LDAP *ld, const char *url, int attrsonly, struct timeval *timeout, LDAPMessage **res)
{
    if (!res) return store_result(ld, LDAP_PARAM_ERROR);
    *res = nullptr;
    const int msgid = url_search(ld, url, attrsonly);
    if (msgid < 0) return stored_result(ld);
    const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, timeout, res);
    if (got == -1) return stored_result(ld);
    if (got == 0) {
        // Timed out: the server may still be working on it, so tell it to
        // stop; the session then reports the time-out, not the abandon.
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        return store_result(ld, LDAP_TIMEOUT);
    }
    return ldap_result2error(ld, *res, 0);
}

}  // namespace
}  // namespace dirext::controls

extern "C" {

int ldap_url_search(LDAP *ld, const char *url, int attrsonly)
{
    return ld ? dirext::controls::url_search(ld, url, attrsonly) : -1;
}

int ldap_url_search_st(LDAP *ld, const char *url, int attrsonly, struct timeval *timeout, LDAPMessage **res)
{
    if (!ld) {
        if (res) *res = nullptr;
        return LDAP_PARAM_ERROR;
    }
    return dirext::controls::url_search_wait(ld, url, attrsonly, timeout, res);
}

int ldap_url_search_s(LDAP *ld, const char *url, int attrsonly, LDAPMessage **res)
{
    if (!ld) {
        if (res) *res = nullptr;
        return LDAP_PARAM_ERROR;
    }
    return dirext::controls::url_search_wait(ld, url, attrsonly, nullptr, res);
}

}  // extern "C"
