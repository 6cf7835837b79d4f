/*
 * libdirext: event monitoring.
 *
 * A connection registers for server events with ldap_monitor_events() or
 * ldap_monitor_events_filtered(); the server then sends one intermediate
 * response per event until the registration ends with a final extended
 * response.  Collect the messages with ldap_result() and hand them over:
 *
 *   intermediate response  -> ldap_parse_ds_event(), release the record with
 *                             ldap_event_free()
 *   final extended response -> ldap_parse_monitor_events_response(), release
 *                             the list with ldapx_memfree()
 *
 * An event record is a plain structure below, selected by the notification's
 * body tag; DIREXT_EVENT_KIND(record) tells which one.  Every record is one
 * malloc block behind a 64-bit kind word; strings, lists and arrays it points
 * to are separate blocks that ldap_event_free() releases with it.  An empty
 * OCTET STRING on the wire gives a NULL string member.
 *
 * The records' member names (string1, integer1, ...), order and types are
 * fixed for binary compatibility with existing callers; where the order
 * differs from the wire, the record says so.
 *
 * Every function returns an LDAP result code and also stores it as the
 * handle's LDAP_OPT_RESULT_CODE, except where noted.
 */
#ifndef DIREXT_EVENTS_H
#define DIREXT_EVENTS_H

#include "dirext/common.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Names of the operation: the plain and the filtered monitor request, the
 * final response, and the intermediate response of each event notification. */
#define LDAP_MONITOR_EVENT_REQUEST "2.16.840.1.113719.1.27.100.79"
#define LDAP_MONITOR_EVENT_FILTERED_REQUEST "2.16.840.1.113719.1.27.100.84"
#define LDAP_MONITOR_EVENT_RESPONSE "2.16.840.1.113719.1.27.100.80"
#define LDAP_EVENT_NOTIFICATION "2.16.840.1.113719.1.27.100.81"

/* One event registration: the server's event type number and a status value
 * sent as ENUMERATED; the library attaches no meaning to either. */
typedef struct EventSpecifier {
    int32_t eventType;
    int32_t eventStatus;
} EventSpecifier;

typedef struct FilteredEventSpecifier {
    int32_t eventType;
    int32_t eventStatus;
    const char *filter; /* required */
} FilteredEventSpecifier;

/* Record kinds: the body tag of the notification (APPLICATION 1 to 29). */
enum {
    DIREXT_EVENT_ENTRY = 97,
    DIREXT_EVENT_VALUE = 98,
    DIREXT_EVENT_GENERAL = 99,
    DIREXT_EVENT_SKULK = 100,
    DIREXT_EVENT_BINDERY = 101,
    DIREXT_EVENT_SEV = 102,
    DIREXT_EVENT_MODULE_STATE = 103,
    DIREXT_EVENT_NET_ADDRESS = 104,
    DIREXT_EVENT_CONNECTION_STATE = 105,
    DIREXT_EVENT_CHANGE_SERVER_ADDRESS = 108,
    DIREXT_EVENT_CHANGE_CONFIG_PARAM = 109,
    DIREXT_EVENT_STATUS_LOG = 111,
    DIREXT_EVENT_DEBUG = 112,
    DIREXT_EVENT_AUTH = 113,
    DIREXT_EVENT_CONNECTION = 114,
    DIREXT_EVENT_SEARCH = 115,
    DIREXT_EVENT_SEARCH_ENTRY_RESPONSE = 116,
    DIREXT_EVENT_UPDATE = 117,
    DIREXT_EVENT_COMPARE = 118,
    DIREXT_EVENT_MODDN = 119,
    DIREXT_EVENT_ABANDON = 120,
    DIREXT_EVENT_EXTOP = 121,
    DIREXT_EVENT_SYS_EXTOP = 122,
    DIREXT_EVENT_RESPONSE = 123,
    DIREXT_EVENT_PASSWORD_MODIFY = 124,
    DIREXT_EVENT_UNKNOWN_OP = 125
};

/* The kind word in front of a record (or a network-address record). */
#define DIREXT_EVENT_KIND(record) ((long)((const int64_t *)(const void *)(record))[-1])

/* ---- Shared member types ------------------------------------------------ */

typedef struct EventTriple {
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
} EventTriple;

typedef struct ReferralAddress {
    int32_t type;
    int32_t length; /* bytes in data */
    char *data;     /* NUL-terminated copy; NULL when empty */
} ReferralAddress;

typedef struct ConnectionData {
    int32_t integer1;
    int32_t integer2;
    char *string1;
} ConnectionData;

/* Kind 104: a network address, the bytes held inline and NUL-terminated (an
 * empty address is an empty string). */
typedef struct NetAddrEventData {
    int32_t type;
    int32_t length;
    char address[];
} NetAddrEventData;

/* One debug-event parameter.  type 1 and 4: intValue; 2: strValue;
 * 3: dataLength, data; 5: intValue, dataLength, data; 6: triple;
 * 7: tripleCount, triples.  Members the type does not use are 0 / NULL. */
typedef struct DebugParameter {
    int32_t type;
    int32_t intValue;
    char *strValue;
    int32_t dataLength;
    char *data;
    EventTriple triple;
    int32_t tripleCount;
    EventTriple *triples;
} DebugParameter;

/* ---- Directory events (kinds 97 to 112) ---------------------------------- */

typedef struct EntryEventData { /* 97 */
    char *string1;
    char *string2;
    char *string3;
    int32_t integer1;
    int32_t integer2;
    EventTriple triple;
    char *data; /* optional */
} EntryEventData;

typedef struct ValueEventData { /* 98 */
    int32_t integer1; /* optional, 0 when absent */
    char *string1;
    char *string2;
    char *string3;
    char *string4;
    char *string5;
    EventTriple triple;
    int32_t dataLength;
    char *data; /* optional */
} ValueEventData;

typedef struct GeneralEventData { /* 99; integer4 is declared before integer3 */
    int32_t integer1;
    int32_t integer2;
    int32_t integer4;
    int32_t integer3;
    char *string1;
    int32_t intValues[4]; /* slots not sent are 0 */
    char *strValues[4];   /* slots not sent are NULL */
} GeneralEventData;

typedef struct BinderyEventData { /* 101 */
    char *string1;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    char *string2;
} BinderyEventData;

typedef struct SEVEventData { /* 102 */
    char *string1;
    int32_t integer1;
    char *string2;
    int32_t referralCount;
    ReferralAddress *referrals;
} SEVEventData;

typedef struct ModuleStateEventData { /* 103 */
    char *string1;
    int32_t integer1;
    char *string2;
    char shortText[32]; /* 1 to 31 bytes */
    char longText[128]; /* 0 to 127 bytes */
} ModuleStateEventData;

typedef struct ConnectionStateData { /* 105 */
    char *string1;
    int32_t integer1;
    int32_t integer2;
    char *string2;
} ConnectionStateData;

typedef struct ChangeServerAddressData { /* 108 */
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    int32_t dataLength;
    char *data;
    char *string1;
    char *string2;
} ChangeServerAddressData;

/* 109.  The value members used depend on paramType: 0 none; 1 dataLength and
 * data; 2 and 5 intValue; 3 strValue.  The others are 0 / NULL. */
typedef struct ChangeConfigParamData {
    int32_t paramType;
    char *paramName;
    int32_t intValue;
    char *strValue;
    int32_t dataLength;
    char *data;
} ChangeConfigParamData;

typedef struct StatusLogEventData { /* 111 */
    int32_t integer1;
    char *string1;
    char *string2;
    char *string3;
    char *string4;
    char *string5;
    char *string6;
} StatusLogEventData;

typedef struct DebugEventData { /* 112 */
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    int32_t integer3;
    int32_t paramCount;
    DebugParameter *params; /* paramCount entries when paramCount > 0 */
} DebugEventData;

/* ---- LDAP-operation events (kinds 113 to 125) ---------------------------
 * String lists are NULL-terminated arrays (NULL when absent).  Where the last
 * integer on the wire follows a list, it is declared after it. */

typedef struct AuthEventData { /* 113 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    int32_t integer3;
    char *string2;
    char **list1;
    int32_t integer4;
} AuthEventData;

typedef struct ConnectionEventData { /* 114 */
    int32_t integer1;
    int32_t integer2;
    char *string1;
} ConnectionEventData;

typedef struct SearchEventData { /* 115 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    int32_t integer3;
    char *string3;
    char **list1;
    char **list2;
    int32_t integer4;
} SearchEventData;

typedef struct SearchEntryResponseEventData { /* 116 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    char **list1;
    int32_t integer3;
} SearchEntryResponseEventData;

typedef struct UpdateEventData { /* 117 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    char *string1;
    char *string2;
    char *string3;
    char **list1;
    int32_t integer4;
} UpdateEventData;

typedef struct CompareEventData { /* 118 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    char *string3;
    char *string4;
    char *string5;
    int32_t integer3;
} CompareEventData;

typedef struct ModDNEventData { /* 119 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    char *string3;
    char *string4;
    char **list1;
    int32_t integer3;
} ModDNEventData;

typedef struct AbandonEventData { /* 120 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    char *string1;
    int32_t integer4;
} AbandonEventData;

typedef struct ExtOpEventData { /* 121 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    char *string1;
    char *string2;
    int32_t integer4;
} ExtOpEventData;

typedef struct SysExtOpEventData { /* 122 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    char *string1;
    char *string2;
    char *string3;
    char *string4;
    char *string5;
    char *string6;
    int32_t integer4;
} SysExtOpEventData;

typedef struct ResponseEventData { /* 123 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    int32_t integer3;
    int32_t integer4;
    char *string1;
    char **list1;
} ResponseEventData;

typedef struct PasswordModifyData { /* 124 */
    ConnectionData *connection;
    int32_t integer1;
    int32_t integer2;
    char *string1;
    char *string2;
    int32_t integer3;
    int32_t integer4;
} PasswordModifyData;

typedef struct UnknownOpData { /* 125 */
    int32_t integer1;
    char *string1;
} UnknownOpData;

/* ---- Requests and responses --------------------------------------------- */

/* Sends a registration; *msgid receives the operation's message id.
 * count 0 or a NULL argument (a NULL filter included): LDAP_PARAM_ERROR,
 * nothing sent, the handle's result code untouched. */
DIREXT_API int ldap_monitor_events(LDAP *ld, int count, EventSpecifier *specs, int *msgid);
DIREXT_API int ldap_monitor_events_filtered(LDAP *ld, int count, FilteredEventSpecifier *specs,
                                            int *msgid);

/* Parses the final extended response.  resultCode is required; errorMessage
 * (release with ldap_memfree), specCount and specList (release with
 * ldapx_memfree) are optional.  With freeit the message is released on every
 * path. */
DIREXT_API int ldap_parse_monitor_events_response(LDAP *ld, LDAPMessage *result, int *resultCode,
                                                  char **errorMessage, int *specCount,
                                                  EventSpecifier **specList, int freeit);

/* Parses one event notification.  eventType and eventResult are required;
 * with eventData NULL only they are read.  *address is written only when the
 * notification carries a network address (set it to NULL first); address
 * must not be NULL when eventData is given.  On failure no record is left. */
DIREXT_API int ldap_parse_ds_event_IP(LDAP *ld, LDAPMessage *message, int *eventType,
                                      int *eventResult, void **eventData, int freeit,
                                      NetAddrEventData **address);
/* The same, releasing the network address itself. */
DIREXT_API int ldap_parse_ds_event(LDAP *ld, LDAPMessage *message, int *eventType,
                                   int *eventResult, void **eventData, int freeit);

/* ---- Records ------------------------------------------------------------- */

/* One block of size bytes behind a kind word; NULL when out of memory. */
DIREXT_API void *allocEventData(size_t size, long kind);
/* Releases an event or network-address record and all it owns; NULL is
 * ignored. */
DIREXT_API void ldap_event_free(void *record);

/* ---- Element readers ------------------------------------------------------
 * They read from a BerElement positioned at the element and return 0,
 * LDAP_NO_MEMORY or LDAP_DECODING_ERROR (LDAP_PARAM_ERROR for a NULL
 * argument).  On failure they deliver nothing (NULL, 0); they do not touch a
 * handle's result code. */

/* One string element with tag expectedTag (0: OCTET STRING); an empty one
 * delivers NULL. */
DIREXT_API int parseLDAPString(BerElement *ber, char **out, ber_tag_t expectedTag);
DIREXT_API int parseOctetString(BerElement *ber, char **out, ber_len_t *length,
                                ber_tag_t expectedTag);
/* A list of wrapped OCTET STRINGs; with nothing left to read, *out is left
 * untouched. */
DIREXT_API int parseStringSequence(BerElement *ber, char ***out);
DIREXT_API void freeStringSequence(char **list);
DIREXT_API int parseReferralList(BerElement *ber, int *count, ReferralAddress **list);
DIREXT_API void freeReferralList(int count, ReferralAddress *list);
DIREXT_API int parseConnectionData(BerElement *ber, ConnectionData **out);
DIREXT_API void freeConnectionData(ConnectionData *block);
/* A network address (INTEGER type, OCTET STRING bytes); stores its code as
 * the handle's result code (ld may be NULL). */
DIREXT_API int parseNetAddrEventData(LDAP *ld, BerElement *ber, NetAddrEventData **out);
/* The optional trailing address: read into *out when the next element is an
 * INTEGER, else *out is untouched and the result is 0. */
DIREXT_API int ber_get_IP(LDAP *ld, BerElement *ber, NetAddrEventData **out);

/* ---- Body decoders --------------------------------------------------------
 * Each reads one body from a BerElement positioned just inside it, delivers a
 * new record in *out (NULL on failure) and then the optional trailing
 * network address in *address (not read when address is NULL).  If only the
 * address fails, the record stays in *out.  ld may be NULL. */
#define DIREXT_EVENT_DECODER(name) \
    DIREXT_API int name(LDAP *ld, BerElement *ber, void **out, NetAddrEventData **address)
DIREXT_EVENT_DECODER(parseEntryEventData);
DIREXT_EVENT_DECODER(parseValueEventData);
DIREXT_EVENT_DECODER(parseGeneralEventData);
DIREXT_EVENT_DECODER(parseSkulkEventData);
DIREXT_EVENT_DECODER(parseBinderyEventData);
DIREXT_EVENT_DECODER(parseSEVEventData);
DIREXT_EVENT_DECODER(parseModuleStateEventData);
DIREXT_EVENT_DECODER(parseConnectionStateData);
DIREXT_EVENT_DECODER(parseChangeServerAddressData);
DIREXT_EVENT_DECODER(parseChangeConfigParamData);
DIREXT_EVENT_DECODER(parseStatusLogEventData);
DIREXT_EVENT_DECODER(parseDebugEventData);
DIREXT_EVENT_DECODER(parseAuthEventData);
DIREXT_EVENT_DECODER(parseConnectionEventData);
DIREXT_EVENT_DECODER(parseSearchEventData);
DIREXT_EVENT_DECODER(parseSearchEntryResponseEventData);
DIREXT_EVENT_DECODER(parseCompareEventData);
DIREXT_EVENT_DECODER(parseModDNEventData);
DIREXT_EVENT_DECODER(parseAbandonEventData);
DIREXT_EVENT_DECODER(parseExtOpEventData);
DIREXT_EVENT_DECODER(parseSysExtOpEventData);
DIREXT_EVENT_DECODER(parseResponseEventData);
DIREXT_EVENT_DECODER(parsePasswordModifyData);
DIREXT_EVENT_DECODER(parseUnknownOp);
#undef DIREXT_EVENT_DECODER
/* eventType is the notification's event type; the decoding does not use it. */
DIREXT_API int parseUpdateEventData(LDAP *ld, BerElement *ber, int eventType, void **out,
                                    NetAddrEventData **address);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_EVENTS_H */
