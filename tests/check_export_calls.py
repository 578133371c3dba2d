# SPDX-License-Identifier: MIT
# The library's own code never calls an exported name: an export is a shell
# at the C edge that forwards to an internal function, and internals call
# internals. (An exported name called from inside could be another
# library's routine of the same name in a process that loads both, and it
# would run the edge's checks twice.) This script reads the export list and
# reports every call of a listed name in the library folders; the shells'
# own definitions are not calls.
#
#   python3 check_export_calls.py SOURCE_ROOT   check the tree; exit 1 on a call
#   python3 check_export_calls.py --self-test   prove it finds calls and passes shells
import pathlib
import re
import sys
import tempfile

FOLDERS = ('rpc', 'xdr', 'server', 'auth', 'nfsuser', 'platform')
SOURCES = {'.h', '.cpp'}
COMMENT = re.compile(r'//.*?$|/\*.*?\*/', re.MULTILINE | re.DOTALL)
STRING = re.compile(r'"(?:\\.|[^"\\\n])*"')
# A definition or declaration starts its line with a return type, possibly
# behind extern "C" or the export macro.
DEFINITION = re.compile(r'^(?:extern\s+"C?"\s+)?(?:QELRPC_API\s+)?[A-Za-z_][\w\s\*]*?[\s\*](\w+)\s*\(')


def exported_names(root):
    names = set()
    for line in (root / 'include' / 'qelrpc.exports').read_text(encoding='utf-8').splitlines():
        line = line.strip()
        if line and not line.startswith('#') and not line.startswith('['):
            names.add(line.split()[0])
    return names


def calls(root, names):
    pattern = re.compile(r'\b(' + '|'.join(sorted(names, key=len, reverse=True)) + r')\s*\(')
    found = []
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob('*')):
            if path.suffix not in SOURCES or not path.is_file():
                continue
            text = path.read_text(encoding='utf-8', errors='replace')
            # Blank out comments and strings, keeping the line breaks.
            text = COMMENT.sub(lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text)
            text = STRING.sub('""', text)
            for number, line in enumerate(text.splitlines(), 1):
                definition = DEFINITION.match(line)
                for m in pattern.finditer(line):
                    if definition and definition.group(1) == m.group(1) and definition.start(1) == m.start(1):
                        continue
                    found.append(f'{path.relative_to(root)}:{number}: calls the exported {m.group(1)}')
    return found


def check(root):
    found = calls(root, exported_names(root))
    for f in found:
        print(f)
    print(f'check_export_calls: {len(found)} call(s) of exported names' if found
          else 'check_export_calls: no library code calls an exported name')
    return 1 if found else 0


def self_test():
    names = {'CallRPC', 'mbufAddLong', 'xdr_int'}
    files = {
        'rpc/call.cpp': 'extern "C" int CallRPC(RpcOperation* op, int r) { return rpc::callRpc(*op, r); }\n'
                        '// CallRPC(op) in a comment\nconst char* s = "CallRPC(";\n',
        'xdr/mbuf.cpp': 'int mbufAddLong(MbufCursor* s, int32_t v) { return mbuf::addLong(*s, v); }\n'
                        'QELRPC_API int xdr_int(MbufCursor* s, XdrOp op, int32_t* v);\n',
        'nfsuser/pcnfsd.cpp': 'int ask(RpcOperation& op) {\n    return CallRPC(&op, 0);\n}\n',
        'auth/x.cpp': 'static const XdrProc p = xdr_int;\nint f() { return mbufAddLong (s, 1); }\n',
    }
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for folder in FOLDERS:
            (root / folder).mkdir()
        for name, text in files.items():
            (root / name).write_text(text)
        got = {line.split(': calls')[0] for line in calls(root, names)}
    expected = {'nfsuser/pcnfsd.cpp:2', 'auth/x.cpp:2'}
    if got != expected:
        print(f'self-test: expected {sorted(expected)}, got {sorted(got)}')
        return 1
    print(f'check_export_calls self-test: {len(expected)} calls found, shells and comments passed')
    return 0


if __name__ == '__main__':
    if sys.argv[1:] == ['--self-test']:
        sys.exit(self_test())
    if len(sys.argv) != 2:
        raise SystemExit(__doc__ or 'usage: check_export_calls.py SOURCE_ROOT | --self-test')
    sys.exit(check(pathlib.Path(sys.argv[1]).resolve()))
