#!/usr/bin/env python3
"""bench_table.py DIR: the benchmark table of one run, from the JSON files
that scripts/bench.sh wrote into DIR.  Every figure is a ratio against the
baseline measured in the same run (these machines are shared and noisy)."""
import json
import os
import re
import sys

# (what, file, measured, baseline, how the ratio reads, goal)
#   'speed': baseline time / measured time (above 1: faster than the baseline)
#   'cost':  measured time / baseline time (above 1: slower than the baseline)
ROWS = [
    ('Event notifications decoded (ldap_parse_ds_event, mixed kinds)', 'bench_events',
     r'^BM_ParseDsEvent$', r'^BM_BareBerScanfWalk$', 'cost', '<= 2x'),
    ('Bulk load of 100,000 entries: LBURP against one add per entry', 'bench_lburp',
     r'^BM_Load_Lburp/', r'^BM_Load_AddPerEntry', 'speed', '>= 10x'),
    ('The same, keeping one update request in flight ahead', 'bench_lburp',
     r'^BM_Load_LburpOneAhead', r'^BM_Load_AddPerEntry', 'speed', '>= 10x'),
    ('dirext load of the same 100,000 records (a process) against the library\'s load', 'bench_lburp',
     r'^BM_Load_DirextTool', r'^BM_Load_LburpOneAhead', 'cost', ''),
    ('LBURP operation encoder against one ber_printf of the same bytes', 'bench_lburp',
     r'^BM_Encode_LBURPEncodeAdd', r'^BM_Encode_BerPrintfBaseline', 'cost', ''),
    ('MD5 of 16 KiB buffers against OpenSSL (EVP)', 'bench_sasl',
     r'^BM_LibraryMd5', r'^BM_OpenSslMd5', 'cost', ''),
    ('Random pool, 32 bytes per call: 4 threads against 1 (throughput)', 'bench_sasl',
     r'^BM_XrandBytes.*threads:4', r'^BM_XrandBytes.*threads:1', 'throughput', ''),
    ('Subschema parse, strict: library against libldap', 'bench_schema_parse',
     r'^ParseSubschema/library/0', r'^ParseSubschema/libldap_baseline/0', 'speed', ''),
    ('Subschema parse, permissive: library against libldap', 'bench_schema_parse',
     r'^ParseSubschema/library/15', r'^ParseSubschema/libldap_baseline/15', 'speed', ''),
    ('Schema lookup by name against a case-insensitive std::map', 'bench_schema_lookup',
     r'^Lookup/by_name', r'^MapLookup/by_name_baseline', 'speed', ''),
    ('Schema lookup by OID against a std::map', 'bench_schema_lookup',
     r'^Lookup/by_oid', r'^MapLookup/by_oid_baseline', 'speed', ''),
]
# Absolute rates that a goal names, next to the ratios.
RATES = [
    ('Event notifications decoded per second', 'bench_events', r'^BM_ParseDsEvent$', '>= 1,000,000'),
    ('LBURP operations encoded per second', 'bench_lburp', r'^BM_Encode_LBURPEncodeAdd', '>= 500,000'),
    ('Schema lookups by name per second', 'bench_schema_lookup', r'^Lookup/by_name', '>= 1,000,000'),
]


def load(directory):
    runs = {}
    for name in os.listdir(directory):
        if name.endswith('.json'):
            with open(os.path.join(directory, name)) as f:
                data = json.load(f)
            runs[name[:-5]] = [b for b in data['benchmarks'] if b.get('run_type') != 'aggregate']
    return runs


def find(runs, file, pattern):
    for b in runs.get(file, []):
        if re.search(pattern, b['name']):
            return b
    return None


def seconds(b):
    scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}[b['time_unit']]
    return b['real_time'] * scale


def main():
    runs = load(sys.argv[1])
    print('| Measure | Ratio | Goal |')
    print('|---|---|---|')
    for what, file, measured, baseline, how, goal in ROWS:
        m, b = find(runs, file, measured), find(runs, file, baseline)
        if not m or not b:
            continue
        if how == 'speed':
            text = f'{seconds(b) / seconds(m):.1f}x faster'
        elif how == 'cost':
            text = f'{seconds(m) / seconds(b):.2f}x the time'
        else:
            text = f'{m["items_per_second"] / b["items_per_second"]:.2f}x the throughput'
        print(f'| {what} | {text} | {goal} |')
    print()
    print('| Rate | Figure | Goal |')
    print('|---|---|---|')
    for what, file, measured, goal in RATES:
        m = find(runs, file, measured)
        if m and 'items_per_second' in m:
            print(f'| {what} | {m["items_per_second"]:,.0f} | {goal} |')


if __name__ == '__main__':
    main()
