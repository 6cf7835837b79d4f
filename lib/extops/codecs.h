// The request encoders and response decoders that the operations' formats
// alone do not describe.  They work on a BerElement only, so that tests and
// fuzz targets run them over bytes without a server.
//
// Encoders return LDAP_SUCCESS, LDAP_ENCODING_ERROR (-3), LDAP_PARAM_ERROR (-9)
// for malformed text, or LDAP_NO_MEMORY (-10).  Decoders return LDAP_SUCCESS,
// the operation's undecodable code (-3 or -4) or LDAP_NO_MEMORY.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/handles.h"  // reads <ldap.h> the library's way; include it first
#include "dirext/extops.h"

namespace dirext::extops {

// Replicas: "iiiiiaii" into info, the string cut at 771 bytes into info->dn.
int decode_replica_info(BerElement *ber, ReplicaInfo *info);
// Replicas: the list, stored in *names only on success.
int decode_replica_list(BerElement *ber, char ***names);

// Strings returned by the identity and name operations: one OCTET STRING
// copied into a new block in *out (null when that allocation fails).  With
// `bind_dn_cut`, a string of 772 bytes or more is cut to its first 770.
int decode_returned_string(BerElement *ber, bool bind_dn_cut, char **out);

// The native-name conversion request: the code units big-endian, then a zero
// unit, as one OCTET STRING.
int encode_native_name(BerElement *ber, const uint16_t *name);

// Privileges of a list of attributes: the announced count, then one INTEGER
// per entry; entries beyond `slots` are read but not stored.
int decode_privileges(BerElement *ber, int *privileges, std::size_t slots);

// Replication filter: serverDN followed by the filter text as BER, and back
// to text.  *text receives the rendered text (also on a decoding failure,
// with the classes read so far).
int encode_replication_filter(BerElement *ber, const char *server_dn, const char *filter);
int decode_replication_filter(BerElement *ber, char **text);

// Backup continuation state "n+m": two non-zero decimal integers.
bool parse_backup_state(const char *text, int &first, int &second);

// A decoded backup response, every part allocated, so that the caller's
// outputs change only when all of it is there.
struct BackupResponse {
    int size = 0;
    MallocPtr<char> data;        // `size` bytes
    MallocPtr<char> chunk_list;  // "count;n1;...;"
    MallocPtr<char> state;       // "first+second"
};
int decode_backup(BerElement *ber, BackupResponse &out);

// Restore: the chunk list text as SEQUENCE { count, SET { SEQUENCE { n } ... } }.
int encode_chunk_list(BerElement *ber, const char *chunk_list);

// The next element whatever its tag: a new ber_memalloc buffer of its content
// plus a NUL, and its length.  LBER_ERROR when it is incomplete or memory runs out.
ber_tag_t read_any_element(BerElement *ber, char **buffer, ber_len_t *length);

}  // namespace dirext::extops
