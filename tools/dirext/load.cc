// dirext load [--json] [--skip N] FILE|-: the whole LDIF input is read and
// checked first (nothing is sent when any of it is malformed), then loaded
// with LBURP.  Exit status: 0 when every record was applied; the first
// refused record's result code; 1 when the load ended early (connection
// lost, no answer within -l, a signal) or the input is refused; the start or
// end request's code when the server refuses it.
#include <dirext.h>  // before <ldap.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "commands.h"
#include "ldif_records.h"
#include "load_protocol.h"
#include "load_report.h"
#include "stop_signal.h"

namespace dirext_cli {
namespace {

struct FileClose {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

// The whole of path ("-": standard input) into text; false, with the
// message written, when it cannot be read.
bool read_input(const std::string &path, std::string &text)
{
    std::unique_ptr<std::FILE, FileClose> file(path == "-" ? nullptr : std::fopen(path.c_str(), "rb"));
    std::FILE *in = path == "-" ? stdin : file.get();
    if (in) {
        if (struct stat st {}; fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) text.reserve(size_t(st.st_size));
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
        if (!std::ferror(in)) return true;
    }
    std::fprintf(stderr, "dirext: load: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

// What the first reading of the input finds: how many records there are,
// and where the load begins after the skipped ones.
struct Survey {
    long count = 0;
    bulk::LdifPosition resume;
    std::optional<bulk::RecordMark> last_skipped;
};

std::optional<bulk::LdifError> survey(std::string_view text, long skip, Survey &s)
{
    bulk::LdifRecords records(text);
    while (auto r = records.next()) {
        if (++s.count != skip) continue;
        s.resume = records.position();
        s.last_skipped = bulk::RecordMark{s.count, r->line, r->dn};
    }
    return records.error();
}

int exit_status_of(const bulk::LoadResult &r)
{
    if (r.outcome != bulk::LoadOutcome::complete) return r.status;
    if (r.first_refused_code) return exit_status(r.first_refused_code);
    return r.status;  // the end request's, when refused
}

}  // namespace

// The input is read twice: once to check all of it before anything is sent,
// then record by record as the update requests go out, so that only the
// records in flight are held, however long the input.
int run_load(Session &s, const Invocation &inv)
{
    const std::string &path = inv.operands.at(0);
    const std::string name = path == "-" ? "(standard input)" : path;
    std::string text;
    if (!read_input(path, text)) return 1;
    const long skip = inv.skip.value_or(0);
    Survey found;
    if (auto error = survey(text, skip, found)) {
        std::fprintf(stderr, "dirext: load: %s:%ld: %s\n", name.c_str(), error->line, error->message.c_str());
        return 1;
    }
    if (skip > found.count) {
        std::fprintf(stderr, "dirext: load: --skip %ld is more than the %ld records of %s\n", skip, found.count,
                     name.c_str());
        return 1;
    }

    if (int rc = s.connect()) return rc;
    catch_stop_signals();
    bulk::LoadReport report(inv.json, isatty(STDERR_FILENO) == 1);
    bulk::LoadResult result;
    result.tally.total = found.count;
    result.tally.skipped = skip;
    if (skip < found.count) {  // else no bulk update at all
        bulk::LdifRecords source(text, found.resume, true);
        result = bulk::BulkLoad(s.ld(), source, result.tally, found.last_skipped, inv.conn.time_limit, report).run();
    }
    report.finish(result);
    return exit_status_of(result);
}

}  // namespace dirext_cli
