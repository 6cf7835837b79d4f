#!/usr/bin/env python3
"""check_docs.py EXPORTS HEADER...

Every exported function and object, every record and every constant of the
public headers is documented: a comment stands on its line, or above it with
only blank lines and declarations of the same kind in between (the headers
document groups of related declarations under one comment).
"""
import re
import sys

DECL = re.compile(r'^(?:DIREXT_API\b.*?\b([A-Za-z_]\w*)\s*[(\[;]|DIREXT_EVENT_DECODER\((\w+)\))')
RECORD = re.compile(r'^typedef\s+(?:struct|union|enum)\s+(\w+)?\s*\{')
TYPEDEF = re.compile(r'^typedef\b[^(]*?\b(\w+)\s*;')
CONSTANT = re.compile(r'^#define\s+([A-Z][A-Z0-9_]+)\b(?!\s*$)')


def is_comment(text):
    return text.endswith('*/') or text.startswith(('/*', '*', '//'))


def documented(lines, i, same_group):
    """True when line i carries a comment, or walking up from it over blank
    lines and lines of its own group reaches one."""
    if '/*' in lines[i] or '//' in lines[i]:
        return True
    j = i - 1
    while j >= 0:
        text = lines[j].strip()
        if is_comment(text):
            return True
        if text and not same_group(lines[j]):
            return False
        j -= 1
    return False


def declaration_line(line):
    # Functions share their group's comment with the declarations, records and
    # constants of that group (a record they fill, a macro that declares them).
    return (DECL.match(line) is not None or line.startswith((' ', '\t', 'typedef', '}', '#define')))


def constant_line(line):
    return CONSTANT.match(line) is not None


def main():
    exports = {n.strip() for n in open(sys.argv[1]) if n.strip()}
    declared, missing = set(), []
    for path in sys.argv[2:]:
        lines = open(path).read().split('\n')
        depth = 0
        for i, line in enumerate(lines):
            kind = name = group = None
            m = DECL.match(line)
            if m:
                kind, name, group = 'function', m.group(1) or m.group(2), declaration_line
                declared.add(name)
            elif depth == 0 and (m := RECORD.match(line)):
                kind, name, group = 'record', m.group(1) or '?', lambda _: False
            elif depth == 0 and (m := TYPEDEF.match(line)):
                kind, name, group = 'type', m.group(1), lambda _: False
            elif (m := CONSTANT.match(line)) and not m.group(1).endswith('_H') \
                    and not m.group(1).startswith('DIREXT_'):
                kind, name, group = 'constant', m.group(1), constant_line
            depth += line.count('{') - line.count('}')
            if kind and not documented(lines, i, group):
                missing.append(f'{path.split("/include/")[-1]}:{i + 1}: {kind} {name}')
    undeclared = sorted(exports - declared)
    for name in undeclared:
        print(f'exported but not declared with DIREXT_API: {name}')
    for entry in missing:
        print(f'undocumented {entry}')
    print(f'{len(exports)} exports checked')
    return 1 if undeclared or missing else 0


if __name__ == '__main__':
    sys.exit(main())
