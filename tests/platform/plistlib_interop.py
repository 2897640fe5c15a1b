#!/usr/bin/env python3
"""Interoperability of our XML property lists with Python's plistlib, an
independent implementation, through vz-plutil.

    plistlib_interop.py ours-reads-plistlib VZ_PLUTIL DATA_DIR
        plistlib writes generated trees; vz-plutil must accept every file and
        convert it into a document that plistlib reads back as the same tree.
    plistlib_interop.py plistlib-reads-ours VZ_PLUTIL DATA_DIR
        generated trees written by hand in every form the format allows (keys
        out of order, CDATA, character references, hexadecimal integers,
        spelled-out infinities, broken base64 lines) are converted by
        vz-plutil; plistlib must read the canonical result as the same tree,
        whose dictionaries must list their keys in UTF-16 order, and the
        stores from real machines must come out byte for byte.

Trees are compared strictly: a boolean is not an integer, -0.0 is not 0.0,
and a NaN equals a NaN. Prints "N passed, N failed" and exits non-zero on any
failure.
"""
import base64
import datetime
import math
import os
import plistlib
import random
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

TREES = 150
SEED = 20240601

PIECES = ['a', 'Z', '0', ' ', '/', '&', '<', '>', ']]>', '"', "'", '\t', '\n', '\u00e9', '\u00ff',
          '\u0100', '\u07ff', '\u0800', '\u20ac', '\u4e2d', '\ud7ff', '\ue000', '\ufffd',
          '\U00010000', '\U0001d11e', '\U0010ffff', '\x7f', '\x85', 'Ethernet']
INTEGERS = [-2**63, -2**63 + 1, 2**63 - 1, 2**63, 2**64 - 1, -1, 0, 1, -2**31, 2**31 - 1, 2**32 - 1]
REALS = [0.0, -0.0, math.inf, -math.inf, math.nan, sys.float_info.max, -sys.float_info.max,
         sys.float_info.min, 5e-324, 0.1, 1e21, 123456789012345678.0]
FIRST_DAY = datetime.datetime(1, 1, 1)
LAST_SECOND = int((datetime.datetime(9999, 12, 31, 23, 59, 59) - FIRST_DAY).total_seconds())


def make_string(rnd, with_return=False):
    pieces = PIECES + (['\r', '\r\n'] if with_return else [])
    return ''.join(rnd.choice(pieces) for _ in range(rnd.randrange(9)))


def make_value(rnd, depth, with_return=False):
    kind = rnd.randrange(6 if depth >= 4 else 8)
    if kind == 0:
        return make_string(rnd, with_return)
    if kind == 1:
        if rnd.randrange(2):
            return rnd.choice(INTEGERS)
        return rnd.randrange(-2**63, 2**64)
    if kind == 2:
        if rnd.randrange(2):
            return rnd.choice(REALS)
        return struct.unpack('<d', struct.pack('<Q', rnd.getrandbits(64)))[0]
    if kind == 3:
        return bool(rnd.randrange(2))
    if kind == 4:
        return FIRST_DAY + datetime.timedelta(seconds=rnd.randrange(LAST_SECOND + 1))
    if kind == 5:
        return bytes(rnd.getrandbits(8) for _ in range(rnd.choice([0, rnd.randrange(120)])))
    if kind == 6:
        return [make_value(rnd, depth + 1, with_return) for _ in range(rnd.randrange(6))]
    return {make_string(rnd, with_return): make_value(rnd, depth + 1, with_return)
            for _ in range(rnd.randrange(9))}


def make_tree(rnd, with_return=False):
    if rnd.randrange(3) == 0:
        return [make_value(rnd, 1, with_return) for _ in range(rnd.randrange(1, 6))]
    return {make_string(rnd, with_return): make_value(rnd, 1, with_return)
            for _ in range(rnd.randrange(1, 9))}


def same(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def escape(text, rnd):
    """Markup escaped, other characters sometimes as character references."""
    out = []
    for i, c in enumerate(text):
        if c == '&':
            out.append('&amp;')
        elif c == '<':
            out.append('&lt;')
        elif c == '>':
            # Only "]]>" must not appear in text as it is.
            out.append('&gt;' if text[max(0, i - 2):i] == ']]' else rnd.choice(['>', '&gt;']))
        elif c == '\r':
            out.append(rnd.choice(['&#13;', '&#xD;']))
        elif ord(c) > 0x7f and rnd.randrange(3) == 0:
            out.append(rnd.choice(['&#%d;' % ord(c), '&#x%X;' % ord(c)]))
        else:
            out.append(c)
    return ''.join(out)


def space(rnd):
    return rnd.choice(['', ' ', '\n', '\t\t', '\r\n  '])


def hand_write(value, rnd, out):
    """Any form the format allows, chosen at random."""
    out.append(space(rnd))
    if isinstance(value, bool):
        name = 'true' if value else 'false'
        out.append(rnd.choice(['<%s/>' % name, '<%s></%s>' % (name, name), '<%s />' % name]))
    elif isinstance(value, int):
        if rnd.randrange(3) == 0:
            text = ('-0x%x' % -value) if value < 0 else rnd.choice(['0x%X', '0x%x']) % value
        else:
            text = str(value)
        if value >= 0 and rnd.randrange(4) == 0:
            text = '+' + text
        out.append('<integer>%s%s%s</integer>' % (space(rnd), text, space(rnd)))
    elif isinstance(value, float):
        if math.isnan(value):
            text = rnd.choice(['nan', 'NaN', 'NAN'])
        elif math.isinf(value):
            text = ('-' if value < 0 else rnd.choice(['', '+'])) + rnd.choice(['inf', 'infinity', 'Infinity'])
        else:
            text = rnd.choice([repr(value), '%.17g' % value, '%.17e' % value])
        out.append('<real>%s</real>' % text)
    elif isinstance(value, str):
        if value == '' and rnd.randrange(2):
            out.append('<string/>')
        elif ']]>' not in value and '\r' not in value and rnd.randrange(3) == 0:
            out.append('<string><![CDATA[%s]]></string>' % value)
        else:
            out.append('<string>%s</string>' % escape(value, rnd))
    elif isinstance(value, bytes):
        text = base64.b64encode(value).decode()
        if rnd.randrange(3) == 0:
            text = text.rstrip('=')
        pieces = []
        while text:
            cut = rnd.randrange(1, 30)
            pieces.append(text[:cut])
            text = text[cut:]
        out.append('<data>%s</data>' % space(rnd).join(pieces))
    elif isinstance(value, datetime.datetime):
        out.append('<date>%04d-%02d-%02dT%02d:%02d:%02dZ</date>' % (
            value.year, value.month, value.day, value.hour, value.minute, value.second))
    elif isinstance(value, list):
        if not value and rnd.randrange(2):
            out.append('<array/>')
        else:
            out.append('<array>')
            for item in value:
                hand_write(item, rnd, out)
            out.append('%s</array>' % space(rnd))
    elif isinstance(value, dict):
        if not value and rnd.randrange(2):
            out.append('<dict/>')
        else:
            keys = list(value)
            rnd.shuffle(keys)
            out.append('<dict>')
            for key in keys:
                out.append('%s<key>%s</key>' % (space(rnd), escape(key, rnd)))
                if rnd.randrange(8) == 0:
                    out.append('<!-- a comment -->')
                hand_write(value[key], rnd, out)
            out.append('%s</dict>' % space(rnd))
    else:
        raise TypeError(value)


class Run:
    def __init__(self, tool):
        self.tool = tool
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print('FAILED: %s' % what)

    def plutil(self, *args):
        return subprocess.run([self.tool] + list(args), capture_output=True)


def keys_in_utf16_order(document):
    for element in ElementTree.fromstring(document).iter('dict'):
        keys = [child.text or '' for child in element if child.tag == 'key']
        if keys != sorted(keys, key=lambda k: k.encode('utf-16-be')):
            return False
    return True


def ours_reads_plistlib(run, folder, data_dir):
    rnd = random.Random(SEED)
    trees, paths = [], []
    for i in range(TREES):
        tree = make_tree(rnd)
        path = os.path.join(folder, 'in-%03d.plist' % i)
        with open(path, 'wb') as f:
            f.write(plistlib.dumps(tree, fmt=plistlib.FMT_XML, sort_keys=bool(rnd.randrange(2))))
        trees.append(tree)
        paths.append(path)
    lint = run.plutil('-lint', *paths)
    run.check(lint.returncode == 0, 'vz-plutil -lint refused a plistlib file:\n' + lint.stdout.decode())
    for i, (tree, path) in enumerate(zip(trees, paths)):
        out = os.path.join(folder, 'out-%03d.plist' % i)
        converted = run.plutil('-convert', 'xml1', '-o', out, path)
        if converted.returncode != 0:
            run.check(False, 'tree %d: %s' % (i, converted.stderr.decode()))
            continue
        with open(out, 'rb') as f:
            back = plistlib.loads(f.read())
        run.check(same(tree, back), 'tree %d read differently:\n%r\n%r' % (i, tree, back))


def plistlib_reads_ours(run, folder, data_dir):
    rnd = random.Random(SEED + 1)
    for i in range(TREES):
        tree = make_tree(rnd, with_return=True)
        parts = [rnd.choice(['', '<?xml version="1.0" encoding="UTF-8"?>\n']), '<plist version="1.0">']
        hand_write(tree, rnd, parts)
        parts.append('\n</plist>\n')
        source = os.path.join(folder, 'hand-%03d.plist' % i)
        with open(source, 'w', encoding='utf-8', newline='') as f:
            f.write(''.join(parts))
        out = os.path.join(folder, 'canonical-%03d.plist' % i)
        converted = run.plutil('-convert', 'xml1', '-o', out, source)
        if converted.returncode != 0:
            run.check(False, 'tree %d: %s' % (i, converted.stderr.decode()))
            continue
        with open(out, 'rb') as f:
            document = f.read()
        back = plistlib.loads(document)
        run.check(same(tree, back), 'tree %d read differently by plistlib:\n%r\n%r' % (i, tree, back))
        run.check(keys_in_utf16_order(document), 'tree %d: keys out of order' % i)
        again = os.path.join(folder, 'again-%03d.plist' % i)
        run.plutil('-convert', 'xml1', '-o', again, out)
        with open(again, 'rb') as f:
            run.check(f.read() == document, 'tree %d: canonical text not stable' % i)

    for name in ('real-store-1.plist', 'real-store-2.plist'):
        original = os.path.join(data_dir, name)
        out = os.path.join(folder, name)
        converted = run.plutil('-convert', 'xml1', '-o', out, original)
        run.check(converted.returncode == 0, '%s: %s' % (name, converted.stderr.decode()))
        with open(original, 'rb') as f:
            before = f.read()
        with open(out, 'rb') as f:
            after = f.read()
        run.check(same(plistlib.loads(before), plistlib.loads(after)), '%s: content changed' % name)
        run.check(before == after, '%s: not byte for byte' % name)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ('ours-reads-plistlib', 'plistlib-reads-ours'):
        print(__doc__)
        return 2
    run = Run(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix='vz-plistlib-') as folder:
        if sys.argv[1] == 'ours-reads-plistlib':
            ours_reads_plistlib(run, folder, sys.argv[3])
        else:
            plistlib_reads_ours(run, folder, sys.argv[3])
    print('%d passed, %d failed' % (run.passed, run.failed))
    return 1 if run.failed else 0


if __name__ == '__main__':
    sys.exit(main())
