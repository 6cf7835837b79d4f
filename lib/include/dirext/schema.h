/*
 * libdirext: the schema utility.
 *
 * An in-memory model of a server's subschema: fetch it, look elements up by
 * name, OID or position, read their fields by name, edit them and write the
 * edits back.  Also the schema-description parsers and printers.
 *
 * Names shared with libldap.  The parsers, printers and free functions of the
 * first six element kinds, ldap_scherr2str and the four *2name functions have
 * the names and signatures of libldap's (<ldap_schema.h>).  A program that
 * includes this header and links libdirext gets this library's versions (the
 * library's own symbol version, DIREXT_0, binds them); link libdirext before
 * libldap.  The records are OpenLDAP's, allocated with liblber's allocator, so a
 * record from either library may be released with either library's free
 * function.  This library's parsers differ from libldap's in these ways:
 *   - keywords are matched case-sensitively ("NAME", not "name");
 *   - where a numeric OID is expected, a word is accepted as the OID when the
 *     rest of the description contains "-oid";
 *   - the error codes stay within 0 to 10: a missing required clause (a
 *     matching rule without SYNTAX, say) is not an error;
 *   - quoted strings decode the RFC 4512 escapes \27 and \5C, which the
 *     printers write for ' and \;
 *   - with any permissive flag, every kind with an OID accepts a missing or
 *     non-numeric one;
 *   - errp always points into the parsed text.
 * The printers write what libldap's write, except that a syntax's NAME is
 * printed too and absent fields are left out instead of crashing the printer.
 *
 * Ownership: lists and strings that these functions return are allocated with
 * liblber's allocator; release value lists with ldap_value_free (or
 * ber_memvfree) and strings with ldap_memfree.  A schema handle is released
 * with ldap_schema_free; the elements it hands out stay owned by it.
 */
#ifndef DIREXT_SCHEMA_H
#define DIREXT_SCHEMA_H

#include "dirext/common.h"

#include <ldap_schema.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Element kinds: the `kind` argument of every schema operation. */
#define LDAP_SCHEMA_ATTRIBUTE_TYPE 0
#define LDAP_SCHEMA_OBJECT_CLASS 1
#define LDAP_SCHEMA_SYNTAX 2
#define LDAP_SCHEMA_MATCHING_RULE 3
#define LDAP_SCHEMA_MATCHING_RULE_USE 4
#define LDAP_SCHEMA_NAME_FORM 5
#define LDAP_SCHEMA_DIT_CONTENT_RULE 6
#define LDAP_SCHEMA_DIT_STRUCTURE_RULE 7
#define LDAP_SCHEMA_KIND_COUNT 8

/* The handle's magic while it is valid. */
#define LDAP_SCHEMA_MAGIC 0xDEADBEEFU

/* A DIT content rule (RFC 4512 DITContentRuleDescription). */
typedef struct ldap_dit_content_rule {
    char *dcr_oid;                           /* the structural class's OID */
    char **dcr_names;
    char *dcr_desc;
    int dcr_obsolete;                        /* 0 or 1 */
    char **dcr_aux_oids;                     /* AUX */
    char **dcr_at_oids_must;                 /* MUST */
    char **dcr_at_oids_may;                  /* MAY */
    char **dcr_at_oids_not;                  /* NOT */
    LDAPSchemaExtensionItem **dcr_extensions;
} LDAPDITContentRule;

/* A DIT structure rule (RFC 4512 DITStructureRuleDescription); the rule IDs are
 * kept as the decimal strings the description holds. */
typedef struct ldap_dit_structure_rule {
    char *dsr_ruleid;
    char **dsr_names;
    char *dsr_desc;
    int dsr_obsolete;                        /* 0 or 1 */
    char *dsr_nameform;                      /* FORM */
    char **dsr_sup_ruleids;                  /* SUP */
    LDAPSchemaExtensionItem **dsr_extensions;
} LDAPDITStructureRule;

/* One element of a schema: its kind and its description record (an
 * LDAPAttributeType, LDAPObjectClass, LDAPSyntax, LDAPMatchingRule,
 * LDAPMatchingRuleUse, LDAPNameForm, LDAPDITContentRule or
 * LDAPDITStructureRule, by kind). */
typedef struct ldap_schema_element {
    int kind;
    void *description;
} LDAPSchemaElement;

/* One entry of a kind's name index. */
typedef struct ldap_schema_name_entry {
    LDAPSchemaElement *element;
    char *name;
} LDAPSchemaNameEntry;

/* The schema handle.  Read it through the functions below; its arrays are
 * the library's. */
typedef struct ldap_subschema {
    unsigned int magic;                       /* LDAP_SCHEMA_MAGIC while valid */
    LDAPSchemaElement **elements[LDAP_SCHEMA_KIND_COUNT];  /* sorted by key */
    int element_capacity[LDAP_SCHEMA_KIND_COUNT];
    int element_count[LDAP_SCHEMA_KIND_COUNT];
    LDAPSchemaNameEntry *names[LDAP_SCHEMA_KIND_COUNT];    /* sorted by name */
    int name_capacity[LDAP_SCHEMA_KIND_COUNT];
    int name_count[LDAP_SCHEMA_KIND_COUNT];
    LDAPMod **changes;                        /* edits not yet saved */
    int change_count;
    int change_capacity;
} LDAPSubschema;

/* Model, fetch and lookup.  All return 0 or an LDAP result code. */
DIREXT_API int ldap_schema_fetch(LDAP *ld, LDAPSubschema **schema, const char *subschemaDN);
DIREXT_API int ldap_schema_free(LDAPSubschema *schema);
DIREXT_API int ldap_schema_get_by_name(LDAPSubschema *schema, const char *key, int kind,
                                       LDAPSchemaElement **element);
DIREXT_API int ldap_schema_get_by_index(LDAPSubschema *schema, int index, int kind,
                                        LDAPSchemaElement **element);
DIREXT_API int ldap_schema_get_count(LDAPSubschema *schema, int kind);

/* Field names and values. */
DIREXT_API int ldap_schema_get_field_names(LDAPSchemaElement *schemaElement, char ***names);
DIREXT_API int ldap_schema_get_field_values(LDAPSchemaElement *schemaElement, const char *field,
                                            char ***values);
DIREXT_API int ldap_schema_element_to_string(LDAPSchemaElement *schemaElement, char **text,
                                             const char **attribute);

/* Editing and save.  Field changes name fields as ldap_schema_get_field_names
 * does ("NAME", "MUST", "SYNTAX", "USAGE", an "X-" extension ...), with string
 * values (LDAP_MOD_BVALUES is refused).  An edit either succeeds whole or
 * changes nothing, and queues the subschema modifications that
 * ldap_schema_save sends in one modify request (the queue is emptied whatever
 * the server answers).  After an edit the element is found by its new key and
 * names, not by the old ones; keys and names stay unique within a kind
 * (LDAP_ALREADY_EXISTS otherwise), an element needs its key (OID or RULEID),
 * and values that would not print as one word where a word belongs are
 * refused (-9). */
DIREXT_API int ldap_schema_add(LDAPSubschema *schema, int kind, LDAPMod **attrs);
DIREXT_API int ldap_schema_modify(LDAPSubschema *schema, const char *key, int kind, LDAPMod **changes);
DIREXT_API int ldap_schema_delete(LDAPSubschema *schema, int kind, const char *key);
DIREXT_API int ldap_schema_save(LDAP *ld, LDAPSubschema *schema, const char *subschemaDN);

/* Schema descriptions: parsers (NULL with *code and *errp set on failure),
 * printers (a new string, NULL on failure) and free functions. */
DIREXT_API LDAPAttributeType *ldap_str2attributetype(const char *s, int *code, const char **errp,
                                                     const unsigned flags);
DIREXT_API char *ldap_attributetype2str(LDAPAttributeType *at);
DIREXT_API void ldap_attributetype_free(LDAPAttributeType *at);

DIREXT_API LDAPObjectClass *ldap_str2objectclass(const char *s, int *code, const char **errp,
                                                 const unsigned flags);
DIREXT_API char *ldap_objectclass2str(LDAPObjectClass *oc);
DIREXT_API void ldap_objectclass_free(LDAPObjectClass *oc);

DIREXT_API LDAPSyntax *ldap_str2syntax(const char *s, int *code, const char **errp, const unsigned flags);
DIREXT_API char *ldap_syntax2str(LDAPSyntax *syn);
DIREXT_API void ldap_syntax_free(LDAPSyntax *syn);

DIREXT_API LDAPMatchingRule *ldap_str2matchingrule(const char *s, int *code, const char **errp,
                                                   const unsigned flags);
DIREXT_API char *ldap_matchingrule2str(LDAPMatchingRule *mr);
DIREXT_API void ldap_matchingrule_free(LDAPMatchingRule *mr);

DIREXT_API LDAPMatchingRuleUse *ldap_str2matchingruleuse(const char *s, int *code, const char **errp,
                                                         const unsigned flags);
DIREXT_API char *ldap_matchingruleuse2str(LDAPMatchingRuleUse *mru);
DIREXT_API void ldap_matchingruleuse_free(LDAPMatchingRuleUse *mru);

DIREXT_API LDAPNameForm *ldap_str2nameform(const char *s, int *code, const char **errp,
                                           const unsigned flags);
DIREXT_API char *ldap_nameform2str(LDAPNameForm *nf);
DIREXT_API void ldap_nameform_free(LDAPNameForm *nf);

DIREXT_API LDAPDITContentRule *ldap_str2ditcontentrule(const char *s, int *code, const char **errp,
                                                       const unsigned flags);
DIREXT_API char *ldap_ditcontentrule2str(LDAPDITContentRule *dcr);
DIREXT_API void ldap_ditcontentrule_free(LDAPDITContentRule *dcr);

DIREXT_API LDAPDITStructureRule *ldap_str2ditstructurerule(const char *s, int *code, const char **errp,
                                                           const unsigned flags);
DIREXT_API char *ldap_ditstructurerule2str(LDAPDITStructureRule *dsr);
DIREXT_API void ldap_ditstructurerule_free(LDAPDITStructureRule *dsr);

/* The syntax's OID; the others give the first name, or the OID without one. */
DIREXT_API const char *ldap_syntax2name(LDAPSyntax *syn);
DIREXT_API const char *ldap_matchingrule2name(LDAPMatchingRule *mr);
DIREXT_API const char *ldap_attributetype2name(LDAPAttributeType *at);
DIREXT_API const char *ldap_objectclass2name(LDAPObjectClass *oc);

/* The message of a parse error code (0 to 10); "Unknown error" otherwise. */
DIREXT_API char *ldap_scherr2str(int code);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_SCHEMA_H */
