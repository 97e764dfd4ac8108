"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/):
well-formed PDUs and stubs of the exchange interface to start from.
Run again only to change the seeds: python3 fuzz/make_corpus.py"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
INTERFACE = bytes.fromhex('00dbf1a447ca6710b31f00dd010662da') + struct.pack('<HH', 1, 0)
NDR = bytes.fromhex('045d888aeb1cc9119fe808002b104860') + struct.pack('<HH', 2, 0)


def header(ptype, flags, body, call_id=1):
    return struct.pack('<BBBB4sHHI', 5, 0, ptype, flags, b'\x10\0\0\0', 16 + len(body), 0, call_id) + body


def bind(group=0):
    body = struct.pack('<HHIBBH', 5840, 5840, group, 1, 0, 0) + struct.pack('<HBB', 0, 1, 0) + INTERFACE + NDR
    return header(11, 3, body)


def request(opnum, stub, call_id=2, flags=3):
    return header(0, flags, struct.pack('<IHH', len(stub), 0, opnum) + stub, call_id)


def strings(items):
    out = b''
    for i in range(10):
        text = (items[i] if i < len(items) else '').encode('utf-16-le') + b'\0\0'
        while len(out) % 4:
            out += b'\0'
        out += struct.pack('<II', 0, len(text) // 2) + text
    return out


NAMES = ('Brasken'.encode('utf-16-le') + b'\0' * 88) * 2
CONTEXT = b'\0' * 4 + bytes(range(1, 17))
RECORD = struct.pack('<20i', 7, 1, 0, 1, 11, 12, 13, 14, 15, *([0] * 11))
STUBS = {
    'register': struct.pack('<i', 4711) + NAMES + struct.pack('<hh', 1, 1),
    'deregister': CONTEXT,
    'fetch': CONTEXT + b'\0\0',
    'complete': CONTEXT + RECORD + strings(['abc', '', 'x' * 80]),
    'keepalive': CONTEXT,
}
OPNUM = {'register': 0, 'deregister': 1, 'fetch': 2, 'complete': 3, 'keepalive': 4}


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as out:
        out.write(data)


for name, stub in STUBS.items():
    write('dispatch', name, bind() + request(OPNUM[name], stub))
    write('pdu', 'request-' + name, request(OPNUM[name], stub))
write('dispatch', 'register-then-fetch', bind() + request(0, STUBS['register']) + request(2, STUBS['fetch'], 3))
half = len(STUBS['complete']) // 2
write('dispatch', 'fragmented', bind() + request(3, STUBS['complete'][:half], 2, 1) +
      request(3, STUBS['complete'][half:], 2, 2))
write('pdu', 'bind', bind())
ack = struct.pack('<HHIH', 5840, 5840, 1, 5) + b'1550\0' + b'\0' + struct.pack('<BBH', 1, 0, 0) + \
    struct.pack('<HH', 0, 0) + NDR
write('pdu', 'bind_ack', header(12, 3, ack))
write('pdu', 'fault', header(3, 3, struct.pack('<IHBBII', 0, 0, 0, 0, 0x1C00001A, 0)))
write('pdu', 'response', header(2, 3, struct.pack('<IHBB', 2, 0, 0, 0) + b'\0\0'))
write('ndr', 'fetch-answer', RECORD + strings(['abc', '', 'abc']) + b'\0\0')
write('ndr', 'complete', STUBS['complete'])
write('ndr', 'register', STUBS['register'])
write('ndr', 'register-answer', CONTEXT + b'\0\0')
