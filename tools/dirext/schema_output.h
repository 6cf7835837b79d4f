// How the schema command prints elements.
//
// schema get, one line per element found:
//   <kind> <description>          e.g. attributeType ( 2.5.4.3 NAME ( 'cn' ... ) ... )
// schema list, one line per element, in OID (rule ID) order:
//   <key>[ <name> ...]            e.g. 2.5.4.3 cn commonName
// With --json both print one object per element:
//   {"kind":"attributeType","key":"2.5.4.3","names":["cn","commonName"],
//    "description":"( 2.5.4.3 ... )","fields":{"OID":["2.5.4.3"],"NAME":[...],...}}
// "fields" holds every field that ldap_schema_get_field_names lists, under
// that name, with its values as ldap_schema_get_field_values gives them (a
// set flag as [""]).
#pragma once

#include "schema_kinds.h"

namespace dirext_cli {

void print_element(const SchemaKind &kind, LDAPSchemaElement *element, bool json);
void print_list_line(const SchemaKind &kind, LDAPSchemaElement *element, bool json);

}  // namespace dirext_cli
