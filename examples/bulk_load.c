/*
 * bulk_load: load an LDIF file into the directory with LBURP (RFC 4373).
 *
 *   bulk_load URL BIND-DN PASSWORD FILE.ldif
 *
 * Records without a changetype are adds; "changetype: add", "delete",
 * "modify" and "modrdn"/"moddn" records go as those operations, with the
 * controls the record names.  The records go in update requests of at most
 * maxOperations operations (the limit the server gives in its start
 * response), each answered before the next is sent.  Standard output:
 *
 *   maxOperations 250
 *   batch 1: records 1-250, 1 failed
 *   failed: record 102 "cn=user17,ou=bulk,o=lab": Already exists (68) ...
 *   loaded 9997 of 10000 records in 40 batches
 *
 * (a failed record's line ends with the server's message, when it sent one).
 * Exit status: 0 when every record was applied, 1 when some failed, 2 for a
 * usage, file, connection or protocol error (explained on standard error).
 */
#include <dirext.h> /* before <ldap.h>, which it includes */
#include <ldif.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* When the server names no limit. */
#define DEFAULT_MAX_OPERATIONS 100

/* One LDIF record of the batch being sent; the record points into buffer. */
struct item {
    char *buffer;
    LDIFRecord record;
    LBURPOperation op;
};

struct batch {
    struct item *items;
    LBURPOperation **ops; /* NULL-terminated, for the request */
    int count;
    int capacity;
};

static void release_items(struct batch *b)
{
    int i;
    for (i = 0; i < b->count; ++i) {
        ldap_ldif_record_done(&b->items[i].record);
        ber_memfree(b->items[i].buffer);
    }
    b->count = 0;
}

/* Waits for msgid's answer; NULL (with a message) when it does not come. */
static LDAPMessage *answer(LDAP *ld, int msgid, const char *what)
{
    LDAPMessage *res = NULL;
    int rc = LDAP_OTHER;
    if (ldap_result(ld, msgid, LDAP_MSG_ALL, NULL, &res) > 0) return res;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    fprintf(stderr, "bulk_load: no answer to the %s request: %s\n", what, ldap_err2string(rc));
    return NULL;
}

static int fail(const char *what, int rc, int errcode, char *errmsg)
{
    if (rc != LDAP_SUCCESS)
        fprintf(stderr, "bulk_load: %s: %s (%d)\n", what, ldap_err2string(rc), rc);
    else
        fprintf(stderr, "bulk_load: %s refused: %s (%d)%s%s\n", what, ldap_err2string(errcode), errcode,
                errmsg && *errmsg ? ": " : "", errmsg ? errmsg : "");
    ldap_memfree(errmsg);
    return 2;
}

/* Reads up to b->capacity operations into b; 0, or 2 on a bad file. */
static int read_batch(LDIFFP *fp, const char *path, unsigned long *lineno, struct batch *b)
{
    while (b->count < b->capacity) {
        struct item *it = &b->items[b->count];
        struct berval text;
        int size = 0;
        char *buffer = NULL;
        int got = ldif_read_record(fp, lineno, &buffer, &size);
        if (got <= 0) {
            ber_memfree(buffer);
            if (got < 0) {
                fprintf(stderr, "bulk_load: %s: cannot read after line %lu\n", path, *lineno);
                return 2;
            }
            return 0;
        }
        text.bv_val = buffer;
        text.bv_len = strlen(buffer);
        memset(&it->record, 0, sizeof it->record);
        if (ldap_parse_ldif_record(&text, *lineno, &it->record, "bulk_load", LDIF_DEFAULT_ADD) != 0) {
            fprintf(stderr, "bulk_load: %s: bad LDIF record ending at line %lu\n", path, *lineno);
            ber_memfree(buffer);
            return 2;
        }
        if (it->record.lr_op == 0) { /* "version: 1" */
            ldap_ldif_record_done(&it->record);
            ber_memfree(buffer);
            continue;
        }
        it->buffer = buffer;
        memset(&it->op, 0, sizeof it->op);
        it->op.type = (int)it->record.lr_op;
        it->op.dn = it->record.lr_dn.bv_val;
        it->op.controls = it->record.lr_ctrls;
        if (it->record.lr_op == LDAP_REQ_MODDN) {
            it->op.changes = it->record.lrop_newrdn.bv_val;
            it->op.newSuperior = it->record.lrop_newsup.bv_val;
            it->op.deleteOldRDN = it->record.lrop_delold;
        } else {
            it->op.changes = it->record.lrop_mods;
        }
        b->ops[b->count] = &it->op;
        b->ops[++b->count] = NULL;
    }
    return 0;
}

int main(int argc, char **argv)
{
    LDAP *ld = NULL;
    LDIFFP *fp;
    LDAPMessage *res;
    struct berval password;
    struct batch b = {NULL, NULL, 0, 0};
    unsigned long lineno = 0;
    int msgid = -1, errcode = -1, rc, max = 0, version = LDAP_VERSION3;
    int sequence = 0, records = 0, failures = 0, status = 0;
    char *errmsg = NULL;

    if (argc != 5) {
        fprintf(stderr, "usage: bulk_load URL BIND-DN PASSWORD FILE.ldif\n");
        return 2;
    }
    fp = ldif_open(argv[4], "r");
    if (fp == NULL) {
        fprintf(stderr, "bulk_load: cannot open %s\n", argv[4]);
        return 2;
    }
    password.bv_val = argv[3];
    password.bv_len = strlen(argv[3]);
    if (ldap_initialize(&ld, argv[1]) != LDAP_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        (rc = ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL)) != LDAP_SUCCESS) {
        fprintf(stderr, "bulk_load: cannot bind to %s as %s\n", argv[1], argv[2]);
        status = 2;
        goto done;
    }

    /* Start: learn the server's limit of operations per update request. */
    if ((rc = ldap_lburp_start_request(ld, &msgid)) != LDAP_SUCCESS) {
        status = fail("start request", rc, 0, NULL);
        goto done;
    }
    if ((res = answer(ld, msgid, "start")) == NULL) {
        status = 2;
        goto done;
    }
    rc = ldap_parse_lburp_start_response(ld, res, &errcode, &errmsg, &max, 1);
    if (rc != LDAP_SUCCESS || errcode != LDAP_SUCCESS) {
        status = fail("start request", rc, errcode, errmsg);
        goto done;
    }
    ldap_memfree(errmsg);
    errmsg = NULL;
    if (max <= 0) max = DEFAULT_MAX_OPERATIONS;
    printf("maxOperations %d\n", max);

    b.capacity = max;
    b.items = calloc((size_t)max, sizeof *b.items);
    b.ops = calloc((size_t)max + 1, sizeof *b.ops);
    if (b.items == NULL || b.ops == NULL) {
        fprintf(stderr, "bulk_load: out of memory\n");
        status = 2;
        goto done;
    }

    for (;;) {
        int count = 0, i, first = records + 1;
        LBURPFailedOperation *failed = NULL;
        if ((status = read_batch(fp, argv[4], &lineno, &b)) != 0) goto done;
        if (b.count == 0) break;
        if ((rc = ldap_lburp_operation_request(ld, ++sequence, b.ops, &msgid)) != LDAP_SUCCESS) {
            status = fail("update request", rc, 0, NULL);
            goto done;
        }
        if ((res = answer(ld, msgid, "update")) == NULL) {
            status = 2;
            goto done;
        }
        rc = ldap_parse_lburp_operation_response(ld, res, &errcode, &errmsg, &count, &failed, 1);
        if (rc != LDAP_SUCCESS || errcode != LDAP_SUCCESS) {
            status = fail("update request", rc, errcode, errmsg);
            goto done;
        }
        ldap_memfree(errmsg);
        errmsg = NULL;
        records += b.count;
        printf("batch %d: records %d-%d, %d failed\n", sequence, first, records, count);
        for (i = 0; i < count; ++i) {
            int n = failed[i].operationNumber;
            const char *dn = n >= 1 && n <= b.count ? b.items[n - 1].op.dn : "?";
            const char *message = failed[i].diagnosticMessage;
            printf("failed: record %d \"%s\": %s (%d)%s%s\n", first + n - 1, dn,
                   ldap_err2string(failed[i].resultCode), failed[i].resultCode, message && *message ? ": " : "",
                   message ? message : "");
            ldap_memfree(failed[i].diagnosticMessage);
        }
        ldapx_memfree(failed);
        failures += count;
        release_items(&b);
        fflush(stdout);
    }

    if ((rc = ldap_lburp_end_request(ld, sequence + 1, &msgid)) != LDAP_SUCCESS) {
        status = fail("end request", rc, 0, NULL);
        goto done;
    }
    if ((res = answer(ld, msgid, "end")) == NULL) {
        status = 2;
        goto done;
    }
    rc = ldap_parse_lburp_end_response(ld, res, &errcode, &errmsg, 1);
    if (rc != LDAP_SUCCESS || errcode != LDAP_SUCCESS) {
        status = fail("end request", rc, errcode, errmsg);
        goto done;
    }
    ldap_memfree(errmsg);
    printf("loaded %d of %d records in %d batches\n", records - failures, records, sequence);
    status = failures ? 1 : 0;

done:
    release_items(&b);
    free(b.items);
    free(b.ops);
    ldif_close(fp);
    if (ld) ldap_unbind_ext(ld, NULL, NULL);
    return status;
}
