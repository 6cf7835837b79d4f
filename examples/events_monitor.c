/*
 * events_monitor: register for directory events and print each one as a line
 * of JSON until interrupted (SIGINT or SIGTERM).
 *
 *   events_monitor URL BIND-DN PASSWORD TYPE[:STATUS]...
 *
 * TYPE is the server's event type number, STATUS the value sent with it
 * (default 0).  Every line is one object:
 *
 *   {"event":{"type":..,"result":..,"kind":"UpdateEventData","record":{...},
 *    "address":{"type":..,"bytes":"10.0.0.1"}}}
 *
 * On the way out the registration is cancelled (RFC 3909: libldap drops what
 * comes for an abandoned operation, so abandon would lose the server's final
 * answer), and that answer is the last line:
 * {"final":{"result":..,"registrations":[[type,status],...]}}.
 * Binary members (data with a length) are printed as hex.
 */
#define _POSIX_C_SOURCE 200809L /* sigaction */

#include <dirext.h> /* before <ldap.h>, which it includes */

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int sig)
{
    (void)sig;
    stop_requested = 1;
}

/* ---- JSON output ------------------------------------------------------ */

static void put_string(const char *s)
{
    if (s == NULL) {
        fputs("null", stdout);
        return;
    }
    putchar('"');
    for (; *s; ++s) {
        unsigned char c = (unsigned char)*s;
        if (c == '"' || c == '\\') printf("\\%c", c);
        else if (c < 0x20 || c >= 0x7f) printf("\\u%04x", c);
        else putchar(c);
    }
    putchar('"');
}

static void put_hex(const char *bytes, int length)
{
    int i;
    if (bytes == NULL) {
        fputs("null", stdout);
        return;
    }
    putchar('"');
    for (i = 0; i < length; ++i) printf("%02x", (unsigned char)bytes[i]);
    putchar('"');
}

static void put_triple(const EventTriple *t)
{
    printf("[%d,%d,%d]", (int)t->integer1, (int)t->integer2, (int)t->integer3);
}

static void put_list(char **list)
{
    int i;
    if (list == NULL) {
        fputs("null", stdout);
        return;
    }
    putchar('[');
    for (i = 0; list[i]; ++i) {
        if (i) putchar(',');
        put_string(list[i]);
    }
    putchar(']');
}

/* What each record holds, member by member, so that one printer serves all. */
enum member_type { M_INT, M_STRING, M_TRIPLE, M_CONNECTION, M_LIST, M_DATA, M_TEXT };

struct member {
    const char *name;
    enum member_type type;
    size_t offset;
    size_t length_offset; /* M_DATA: where its int32 length is */
};

#define INT(R, m) { #m, M_INT, offsetof(R, m), 0 }
#define STR(R, m) { #m, M_STRING, offsetof(R, m), 0 }
#define TRI(R, m) { #m, M_TRIPLE, offsetof(R, m), 0 }
#define CONN(R) { "connection", M_CONNECTION, offsetof(R, connection), 0 }
#define LIST(R, m) { #m, M_LIST, offsetof(R, m), 0 }
#define DATA(R, m, len) { #m, M_DATA, offsetof(R, m), offsetof(R, len) }
#define TEXT(R, m) { #m, M_TEXT, offsetof(R, m), 0 }
#define END { NULL, M_INT, 0, 0 }

static const struct member entry_members[] = {
    STR(EntryEventData, string1), STR(EntryEventData, string2), STR(EntryEventData, string3),
    INT(EntryEventData, integer1), INT(EntryEventData, integer2), TRI(EntryEventData, triple),
    STR(EntryEventData, data), END};
static const struct member value_members[] = {
    INT(ValueEventData, integer1), STR(ValueEventData, string1), STR(ValueEventData, string2),
    STR(ValueEventData, string3), STR(ValueEventData, string4), STR(ValueEventData, string5),
    TRI(ValueEventData, triple), DATA(ValueEventData, data, dataLength), END};
static const struct member bindery_members[] = {
    STR(BinderyEventData, string1), INT(BinderyEventData, integer1), INT(BinderyEventData, integer2),
    INT(BinderyEventData, integer3), STR(BinderyEventData, string2), END};
static const struct member module_members[] = {
    STR(ModuleStateEventData, string1), INT(ModuleStateEventData, integer1),
    STR(ModuleStateEventData, string2), TEXT(ModuleStateEventData, shortText),
    TEXT(ModuleStateEventData, longText), END};
static const struct member connection_state_members[] = {
    STR(ConnectionStateData, string1), INT(ConnectionStateData, integer1),
    INT(ConnectionStateData, integer2), STR(ConnectionStateData, string2), END};
static const struct member server_address_members[] = {
    INT(ChangeServerAddressData, integer1), INT(ChangeServerAddressData, integer2),
    INT(ChangeServerAddressData, integer3), DATA(ChangeServerAddressData, data, dataLength),
    STR(ChangeServerAddressData, string1), STR(ChangeServerAddressData, string2), END};
static const struct member config_members[] = {
    INT(ChangeConfigParamData, paramType), STR(ChangeConfigParamData, paramName),
    INT(ChangeConfigParamData, intValue), STR(ChangeConfigParamData, strValue),
    DATA(ChangeConfigParamData, data, dataLength), END};
static const struct member status_log_members[] = {
    INT(StatusLogEventData, integer1), STR(StatusLogEventData, string1), STR(StatusLogEventData, string2),
    STR(StatusLogEventData, string3), STR(StatusLogEventData, string4), STR(StatusLogEventData, string5),
    STR(StatusLogEventData, string6), END};
static const struct member auth_members[] = {
    CONN(AuthEventData), INT(AuthEventData, integer1), INT(AuthEventData, integer2),
    STR(AuthEventData, string1), INT(AuthEventData, integer3), STR(AuthEventData, string2),
    LIST(AuthEventData, list1), INT(AuthEventData, integer4), END};
static const struct member connection_members[] = {
    INT(ConnectionEventData, integer1), INT(ConnectionEventData, integer2), STR(ConnectionEventData, string1),
    END};
static const struct member search_members[] = {
    CONN(SearchEventData), INT(SearchEventData, integer1), INT(SearchEventData, integer2),
    STR(SearchEventData, string1), STR(SearchEventData, string2), INT(SearchEventData, integer3),
    STR(SearchEventData, string3), LIST(SearchEventData, list1), LIST(SearchEventData, list2),
    INT(SearchEventData, integer4), END};
static const struct member search_entry_members[] = {
    CONN(SearchEntryResponseEventData), INT(SearchEntryResponseEventData, integer1),
    INT(SearchEntryResponseEventData, integer2), STR(SearchEntryResponseEventData, string1),
    STR(SearchEntryResponseEventData, string2), LIST(SearchEntryResponseEventData, list1),
    INT(SearchEntryResponseEventData, integer3), END};
static const struct member update_members[] = {
    CONN(UpdateEventData), INT(UpdateEventData, integer1), INT(UpdateEventData, integer2),
    INT(UpdateEventData, integer3), STR(UpdateEventData, string1), STR(UpdateEventData, string2),
    STR(UpdateEventData, string3), LIST(UpdateEventData, list1), INT(UpdateEventData, integer4), END};
static const struct member compare_members[] = {
    CONN(CompareEventData), INT(CompareEventData, integer1), INT(CompareEventData, integer2),
    STR(CompareEventData, string1), STR(CompareEventData, string2), STR(CompareEventData, string3),
    STR(CompareEventData, string4), STR(CompareEventData, string5), INT(CompareEventData, integer3), END};
static const struct member moddn_members[] = {
    CONN(ModDNEventData), INT(ModDNEventData, integer1), INT(ModDNEventData, integer2),
    STR(ModDNEventData, string1), STR(ModDNEventData, string2), STR(ModDNEventData, string3),
    STR(ModDNEventData, string4), LIST(ModDNEventData, list1), INT(ModDNEventData, integer3), END};
static const struct member abandon_members[] = {
    CONN(AbandonEventData), INT(AbandonEventData, integer1), INT(AbandonEventData, integer2),
    INT(AbandonEventData, integer3), STR(AbandonEventData, string1), INT(AbandonEventData, integer4), END};
static const struct member extop_members[] = {
    CONN(ExtOpEventData), INT(ExtOpEventData, integer1), INT(ExtOpEventData, integer2),
    INT(ExtOpEventData, integer3), STR(ExtOpEventData, string1), STR(ExtOpEventData, string2),
    INT(ExtOpEventData, integer4), END};
static const struct member sys_extop_members[] = {
    CONN(SysExtOpEventData), INT(SysExtOpEventData, integer1), INT(SysExtOpEventData, integer2),
    INT(SysExtOpEventData, integer3), STR(SysExtOpEventData, string1), STR(SysExtOpEventData, string2),
    STR(SysExtOpEventData, string3), STR(SysExtOpEventData, string4), STR(SysExtOpEventData, string5),
    STR(SysExtOpEventData, string6), INT(SysExtOpEventData, integer4), END};
static const struct member response_members[] = {
    CONN(ResponseEventData), INT(ResponseEventData, integer1), INT(ResponseEventData, integer2),
    INT(ResponseEventData, integer3), INT(ResponseEventData, integer4), STR(ResponseEventData, string1),
    LIST(ResponseEventData, list1), END};
static const struct member password_members[] = {
    CONN(PasswordModifyData), INT(PasswordModifyData, integer1), INT(PasswordModifyData, integer2),
    STR(PasswordModifyData, string1), STR(PasswordModifyData, string2), INT(PasswordModifyData, integer3),
    INT(PasswordModifyData, integer4), END};
static const struct member unknown_members[] = {
    INT(UnknownOpData, integer1), STR(UnknownOpData, string1), END};

static const struct {
    long kind;
    const char *name;
    const struct member *members;
} kinds[] = {
    {DIREXT_EVENT_ENTRY, "EntryEventData", entry_members},
    {DIREXT_EVENT_VALUE, "ValueEventData", value_members},
    {DIREXT_EVENT_GENERAL, "GeneralEventData", NULL},
    {DIREXT_EVENT_BINDERY, "BinderyEventData", bindery_members},
    {DIREXT_EVENT_SEV, "SEVEventData", NULL},
    {DIREXT_EVENT_MODULE_STATE, "ModuleStateEventData", module_members},
    {DIREXT_EVENT_NET_ADDRESS, "NetAddrEventData", NULL},
    {DIREXT_EVENT_CONNECTION_STATE, "ConnectionStateData", connection_state_members},
    {DIREXT_EVENT_CHANGE_SERVER_ADDRESS, "ChangeServerAddressData", server_address_members},
    {DIREXT_EVENT_CHANGE_CONFIG_PARAM, "ChangeConfigParamData", config_members},
    {DIREXT_EVENT_STATUS_LOG, "StatusLogEventData", status_log_members},
    {DIREXT_EVENT_DEBUG, "DebugEventData", NULL},
    {DIREXT_EVENT_AUTH, "AuthEventData", auth_members},
    {DIREXT_EVENT_CONNECTION, "ConnectionEventData", connection_members},
    {DIREXT_EVENT_SEARCH, "SearchEventData", search_members},
    {DIREXT_EVENT_SEARCH_ENTRY_RESPONSE, "SearchEntryResponseEventData", search_entry_members},
    {DIREXT_EVENT_UPDATE, "UpdateEventData", update_members},
    {DIREXT_EVENT_COMPARE, "CompareEventData", compare_members},
    {DIREXT_EVENT_MODDN, "ModDNEventData", moddn_members},
    {DIREXT_EVENT_ABANDON, "AbandonEventData", abandon_members},
    {DIREXT_EVENT_EXTOP, "ExtOpEventData", extop_members},
    {DIREXT_EVENT_SYS_EXTOP, "SysExtOpEventData", sys_extop_members},
    {DIREXT_EVENT_RESPONSE, "ResponseEventData", response_members},
    {DIREXT_EVENT_PASSWORD_MODIFY, "PasswordModifyData", password_members},
    {DIREXT_EVENT_UNKNOWN_OP, "UnknownOpData", unknown_members},
};

static void put_members(const void *record, const struct member *m)
{
    const char *base = (const char *)record;
    int first = 1;
    for (; m->name; ++m, first = 0) {
        const void *at = base + m->offset;
        printf("%s\"%s\":", first ? "" : ",", m->name);
        switch (m->type) {
        case M_INT: printf("%d", (int)*(const int32_t *)at); break;
        case M_STRING: put_string(*(char *const *)at); break;
        case M_TEXT: put_string((const char *)at); break;
        case M_TRIPLE: put_triple((const EventTriple *)at); break;
        case M_LIST: put_list(*(char **const *)at); break;
        case M_DATA: put_hex(*(char *const *)at, *(const int32_t *)(base + m->length_offset)); break;
        case M_CONNECTION: {
            const ConnectionData *c = *(ConnectionData *const *)at;
            if (c == NULL) {
                fputs("null", stdout);
                break;
            }
            printf("{\"integer1\":%d,\"integer2\":%d,\"string1\":", (int)c->integer1, (int)c->integer2);
            put_string(c->string1);
            putchar('}');
            break;
        }
        }
    }
}

/* The three records whose arrays a member table cannot describe. */
static void put_special(const void *record, long kind)
{
    int i, j;
    if (kind == DIREXT_EVENT_GENERAL) {
        const GeneralEventData *g = record;
        printf("\"integer1\":%d,\"integer2\":%d,\"integer3\":%d,\"integer4\":%d,\"string1\":", (int)g->integer1,
               (int)g->integer2, (int)g->integer3, (int)g->integer4);
        put_string(g->string1);
        printf(",\"intValues\":[%d,%d,%d,%d],\"strValues\":[", (int)g->intValues[0], (int)g->intValues[1],
               (int)g->intValues[2], (int)g->intValues[3]);
        for (i = 0; i < 4; ++i) {
            if (i) putchar(',');
            put_string(g->strValues[i]);
        }
        putchar(']');
    } else if (kind == DIREXT_EVENT_SEV) {
        const SEVEventData *s = record;
        fputs("\"string1\":", stdout);
        put_string(s->string1);
        printf(",\"integer1\":%d,\"string2\":", (int)s->integer1);
        put_string(s->string2);
        fputs(",\"referrals\":[", stdout);
        for (i = 0; s->referrals && i < s->referralCount; ++i) {
            printf("%s{\"type\":%d,\"data\":", i ? "," : "", (int)s->referrals[i].type);
            put_hex(s->referrals[i].data, s->referrals[i].length);
            putchar('}');
        }
        putchar(']');
    } else if (kind == DIREXT_EVENT_NET_ADDRESS) {
        const NetAddrEventData *a = record;
        printf("\"type\":%d,\"bytes\":", (int)a->type);
        put_string(a->address);
    } else if (kind == DIREXT_EVENT_DEBUG) {
        const DebugEventData *d = record;
        printf("\"integer1\":%d,\"integer2\":%d,\"string1\":", (int)d->integer1, (int)d->integer2);
        put_string(d->string1);
        fputs(",\"string2\":", stdout);
        put_string(d->string2);
        printf(",\"integer3\":%d,\"params\":[", (int)d->integer3);
        for (i = 0; d->params && i < d->paramCount; ++i) {
            const DebugParameter *p = &d->params[i];
            printf("%s{\"type\":%d", i ? "," : "", (int)p->type);
            switch (p->type) {
            case 1: case 4: printf(",\"int\":%d", (int)p->intValue); break;
            case 2: fputs(",\"str\":", stdout); put_string(p->strValue); break;
            case 5: printf(",\"int\":%d", (int)p->intValue); /* and its data */
            /* fall through */
            case 3: fputs(",\"data\":", stdout); put_hex(p->data, p->dataLength); break;
            case 6: fputs(",\"triple\":", stdout); put_triple(&p->triple); break;
            case 7:
                fputs(",\"triples\":[", stdout);
                for (j = 0; j < p->tripleCount; ++j) {
                    if (j) putchar(',');
                    put_triple(&p->triples[j]);
                }
                putchar(']');
                break;
            }
            putchar('}');
        }
        putchar(']');
    }
}

static void put_event(int type, int result, const void *record, const NetAddrEventData *address)
{
    size_t i;
    printf("{\"event\":{\"type\":%d,\"result\":%d", type, result);
    if (record) {
        long kind = DIREXT_EVENT_KIND(record);
        for (i = 0; i < sizeof kinds / sizeof kinds[0]; ++i) {
            if (kinds[i].kind != kind) continue;
            printf(",\"kind\":\"%s\",\"record\":{", kinds[i].name);
            if (kinds[i].members) put_members(record, kinds[i].members);
            else put_special(record, kind);
            putchar('}');
        }
    }
    if (address) {
        printf(",\"address\":{\"type\":%d,\"bytes\":", (int)address->type);
        put_string(address->address);
        putchar('}');
    }
    puts("}}");
    fflush(stdout);
}

/* ---- the session ---------------------------------------------------------- */

static int final_response(LDAP *ld, LDAPMessage *msg)
{
    int result = 0, count = 0, i, rc;
    char *message = NULL;
    EventSpecifier *list = NULL;

    rc = ldap_parse_monitor_events_response(ld, msg, &result, &message, &count, &list, 1);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "final response: %s\n", ldap_err2string(rc));
        ldap_memfree(message);
        return 1;
    }
    printf("{\"final\":{\"result\":%d,\"registrations\":[", result);
    for (i = 0; i < count; ++i) printf("%s[%d,%d]", i ? "," : "", (int)list[i].eventType, (int)list[i].eventStatus);
    puts("]}}");
    fflush(stdout);
    ldapx_memfree(list);
    ldap_memfree(message);
    return result == LDAP_SUCCESS || result == LDAP_CANCELLED ? 0 : 1;
}

int main(int argc, char **argv)
{
    LDAP *ld = NULL;
    EventSpecifier *specs;
    struct berval password;
    struct sigaction sa;
    int version = LDAP_VERSION3, count = argc - 4, msgid, cancel_id = -1, rc, i, status = 0, done = 0;
    int waited = 0;

    if (argc < 5) {
        fprintf(stderr, "usage: %s URL BIND-DN PASSWORD TYPE[:STATUS]...\n", argv[0]);
        return 2;
    }
    specs = calloc((size_t)count, sizeof *specs);
    if (specs == NULL) return 1;
    for (i = 0; i < count; ++i) {
        char *end;
        specs[i].eventType = (int32_t)strtol(argv[4 + i], &end, 10);
        if (*end == ':') specs[i].eventStatus = (int32_t)strtol(end + 1, &end, 10);
        if (*end != '\0') {
            fprintf(stderr, "%s: not TYPE[:STATUS]\n", argv[4 + i]);
            free(specs);
            return 2;
        }
    }

    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);

    if (ldap_initialize(&ld, argv[1]) != LDAP_SUCCESS) {
        fprintf(stderr, "%s: not an LDAP URL\n", argv[1]);
        free(specs);
        return 1;
    }
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    /* A signal must not end the wait as if the connection had failed. */
    ldap_set_option(ld, LDAP_OPT_RESTART, LDAP_OPT_ON);
    password.bv_val = argv[3];
    password.bv_len = strlen(argv[3]);
    rc = ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL);
    if (rc == LDAP_SUCCESS) rc = ldap_monitor_events(ld, count, specs, &msgid);
    free(specs);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "%s\n", ldap_err2string(rc));
        ldap_unbind_ext_s(ld, NULL, NULL);
        return 1;
    }
    fprintf(stderr, "monitoring; interrupt to stop\n");

    while (!done) {
        struct timeval wait = {0, 200000};
        LDAPMessage *msg = NULL;
        if (stop_requested && cancel_id < 0) {
            /* End the registration; the server answers with its final response. */
            if (ldap_cancel(ld, msgid, NULL, NULL, &cancel_id) != LDAP_SUCCESS) break;
        }
        rc = ldap_result(ld, msgid, LDAP_MSG_ONE, &wait, &msg);
        if (rc == 0) {
            if (cancel_id >= 0 && ++waited > 25) { /* five seconds without an answer */
                fprintf(stderr, "no final response\n");
                ldap_abandon_ext(ld, msgid, NULL, NULL);
                status = 1;
                break;
            }
            continue;
        }
        if (rc < 0) {
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
            fprintf(stderr, "connection: %s\n", ldap_err2string(rc));
            status = 1;
            break;
        }
        if (rc == LDAP_RES_INTERMEDIATE) {
            int type = 0, result = 0;
            void *record = NULL;
            NetAddrEventData *address = NULL;
            rc = ldap_parse_ds_event_IP(ld, msg, &type, &result, &record, 1, &address);
            if (rc == LDAP_SUCCESS) put_event(type, result, record, address);
            else fprintf(stderr, "event not decoded: %s\n", ldap_err2string(rc));
            ldap_event_free(record);
            ldap_event_free(address);
        } else {
            status = final_response(ld, msg);
            done = 1;
        }
    }
    ldap_unbind_ext_s(ld, NULL, NULL);
    return status;
}
