// A bulk load over LBURP: the start request, the records in update requests
// of the server's maxOperations with one request kept in flight ahead (the
// next is read, encoded and on its way while the server works on the current
// one), and the end request.  Only the records in flight are held.  Every
// record ends up counted as applied, refused, sent without an answer, or not
// sent.
#pragma once

#include <dirext.h>  // before <ldap.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldif_records.h"

namespace dirext_cli::bulk {

struct LoadTally {
    long total = 0;       // records in the input
    long skipped = 0;     // the first ones, left out (--skip)
    long applied = 0;
    long refused = 0;
    long unanswered = 0;  // sent, but the answer never came: maybe applied
    long not_sent = 0;

    long confirmed() const { return applied + refused; }
    // The records before the first one whose fate is unknown: --skip this
    // many to go on where the load stopped.
    long resume_skip() const { return skipped + confirmed(); }
};

enum class LoadOutcome {
    complete,         // every record answered
    start_refused,    // the server refused the bulk update
    connection_lost,
    no_answer,        // the time limit (-l) passed
    failed,           // a request that cannot be sent or an answer that cannot be read
    stopped,          // SIGINT or SIGTERM
};

// A record as the messages name it.
struct RecordMark {
    long number = 0;  // from 1, in the input
    long line = 0;
    std::string dn;
};

struct LoadResult {
    LoadOutcome outcome = LoadOutcome::complete;
    LoadTally tally;
    std::optional<RecordMark> last_confirmed;  // record tally.resume_skip(), when there is one
    int first_refused_code = 0;  // of the first refused record, in input order
    int status = 0;              // for what ended the load, or a refused end request
    std::string problem;         // what went wrong, for "dirext: load: <problem>"
};

// Told of each refused record as its answer arrives, and of the progress.
class LoadListener {
public:
    virtual ~LoadListener() = default;
    virtual void refused(long number, const LdifRecord &record, int code, std::string_view message) = 0;
    virtual void progressed(const LoadTally &tally) = 0;
};

class BulkLoad {
public:
    // Loads what source reads, records tally.skipped + 1 to tally.total
    // (the ones before are confirmed already: the last of them is
    // last_skipped); time_limit is -l (-1: none).
    BulkLoad(LDAP *ld, LdifRecords &source, const LoadTally &tally, std::optional<RecordMark> last_skipped,
             int time_limit, LoadListener &listener);
    LoadResult run();

private:
    struct InFlight {
        int msgid;
        long first;  // the number of the record before its first
        std::vector<LdifRecord> records;
    };
    bool start();
    bool send_next();
    bool collect();
    void settle(const InFlight &request, int code, std::string_view message, const LBURPFailedOperation *failed,
                int failed_count);
    void finish();
    LDAPMessage *answer(int msgid, const char *what);
    bool fail(LoadOutcome outcome, int status, std::string problem);
    bool request_failed(const char *what, int rc);

    LDAP *ld_;
    LdifRecords &source_;
    long sent_;  // the records read from source, and the skipped ones
    int time_limit_;
    LoadListener &listener_;
    int max_operations_ = 0;
    int sequence_ = 0;
    std::deque<InFlight> in_flight_;  // oldest first
    LoadResult result_;
};

}  // namespace dirext_cli::bulk
