# SPDX-License-Identifier: MIT
# The include rule between the library's folders. The allowed-dependency
# table is drawn once, in docs/ARCHITECTURE.md ("| folder | may include |"):
# this script reads it from there, so the picture and the check cannot
# drift, and checks every quoted include of the form "folder/..." in every
# source file of the folders the table names.
#
#   python3 check_layers.py SOURCE_ROOT      check the tree; exit 1 on a breach
#   python3 check_layers.py --self-test      prove the check refuses an
#                                            upward include (on a scratch tree)
import pathlib
import re
import sys
import tempfile

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.MULTILINE)
ROW = re.compile(r'^\|\s*`([^`]+/)`\s*\|(.*)\|\s*$')
SOURCES = {'.h', '.hpp', '.c', '.cpp', '.inc'}


def read_table(doc):
    """{folder: set of allowed prefixes}: a folder ("rpc/") allows what
    lies under it, a file ("platform/status_table.h") allows itself."""
    table, in_table = {}, False
    for line in doc.read_text(encoding='utf-8').splitlines():
        if re.match(r'^\|\s*folder\s*\|\s*may include\s*\|', line):
            in_table = True
            continue
        if not in_table:
            continue
        if not line.startswith('|'):
            break
        row = ROW.match(line)
        if row:
            table[row.group(1)] = set(re.findall(r'`([^`]+)`', row.group(2)))
    if not table:
        raise SystemExit(f'{doc}: no "| folder | may include |" table found')
    return table


def allowed(target, permitted):
    return any(target.startswith(p) if p.endswith('/') else target == p for p in permitted)


def breaches(root, table):
    """Every include that names a folder of the source tree its file's row
    does not allow, as text lines."""
    top = {p.name + '/' for p in root.iterdir() if p.is_dir() and not p.name.startswith('.')}
    found = []
    for folder, permitted in sorted(table.items()):
        base = root / folder
        if not base.is_dir():
            found.append(f'{folder}: named in the table but not in the tree')
            continue
        for path in sorted(base.rglob('*')):
            if path.suffix not in SOURCES or not path.is_file():
                continue
            text = path.read_text(encoding='utf-8', errors='replace')
            for m in INCLUDE.finditer(text):
                target = m.group(1)
                first = target.split('/', 1)[0] + '/'
                line = text.count('\n', 0, m.start()) + 1
                # A relative climb ("../rpc/x.h") would pass around the rule.
                if '..' in target.split('/'):
                    found.append(f'{path.relative_to(root)}:{line}: includes "{target}": '
                                 f'name headers from the source root, not with ..')
                    continue
                # Only paths from the source root are ruled; a file's own
                # neighbours ("args.h") and qelrpc.h are not folder includes.
                if '/' not in target or first not in top:
                    continue
                if not allowed(target, permitted):
                    found.append(f'{path.relative_to(root)}:{line}: includes "{target}", '
                                 f'but {folder} may include only {" ".join(sorted(permitted))}')
    return found


def check(root):
    table = read_table(root / 'docs' / 'ARCHITECTURE.md')
    # Every folder the library is built from must have a row.
    for folder in ('nfsuser/', 'auth/', 'server/', 'rpc/', 'xdr/', 'platform/'):
        if folder not in table:
            raise SystemExit(f'docs/ARCHITECTURE.md: the include table has no row for {folder}')
    found = breaches(root, table)
    for f in found:
        print(f)
    print(f'check_layers: {len(found)} include(s) against the table' if found
          else f'check_layers: every include of {", ".join(sorted(table))} keeps to the table')
    return 1 if found else 0


def self_test():
    """A scratch tree with the real table: upward and sideways includes are
    refused, downward ones, a folder's own and listed files pass."""
    doc = pathlib.Path(__file__).resolve().parent.parent / 'docs' / 'ARCHITECTURE.md'
    table = read_table(doc)
    files = {
        'rpc/call.cpp': '#include "rpc/call.h"\n#include "xdr/wire.h"\n# include "auth/gss_protect.h"\n',
        'xdr/mbuf.cpp': '#include "platform/heap.h"\n#include "rpc/heap.h"\n',
        'platform/posix/entry.cpp': '#include "platform/entry.h"\n#include "rpc/library.h"\n',
        'server/endpoint.cpp': '#include "qelrpc.h"\n#include "server/record_io.h"\n#include "rpc/exchange.h"\n',
        'tools/cli/status_text.cpp': '#include "status_text.h"\n#include "platform/status_table.h"\n'
                                     '#include "platform/heap.h"\n#include "../../rpc/status.h"\n',
        'nfsuser/directory_service.cpp': '#include "siblings/qelnis/qelnis.h"\n#include "siblings/qeldes/qeldes.h"\n',
    }
    expected = {('rpc/call.cpp', 'auth/gss_protect.h'), ('xdr/mbuf.cpp', 'rpc/heap.h'),
                ('platform/posix/entry.cpp', 'rpc/library.h'), ('tools/cli/status_text.cpp', 'platform/heap.h'),
                ('tools/cli/status_text.cpp', '../../rpc/status.h'),
                ('nfsuser/directory_service.cpp', 'siblings/qeldes/qeldes.h')}
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for folder in list(table) + ['auth/', 'siblings/']:
            (root / folder).mkdir(parents=True, exist_ok=True)
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        got = {(line.split(':', 1)[0], line.split('"')[1]) for line in breaches(root, table)}
    if got != expected:
        print(f'self-test: expected refusals {sorted(expected)}, got {sorted(got)}')
        return 1
    print(f'check_layers self-test: {len(expected)} wrong includes refused, the rest passed')
    return 0


if __name__ == '__main__':
    if sys.argv[1:] == ['--self-test']:
        sys.exit(self_test())
    if len(sys.argv) != 2:
        raise SystemExit(__doc__ or 'usage: check_layers.py SOURCE_ROOT | --self-test')
    sys.exit(check(pathlib.Path(sys.argv[1]).resolve()))
