"""Interop proof with an implementation no one here wrote (impacket, from
Debian's packages).

1. impacket's client calls exchange-sim through all five procedures, with the
   structures declared in exchange_ndr.py from the interface's records, and
   checks answers, events and the stub sizes it sees.
2. Our client stubs (exchange_client_driver) call impacket's server; every
   request stub is decoded by impacket and encoded again by impacket, and
   must come out byte for byte the same.

usage: /usr/bin/python3 interop_test.py EXCHANGE_SIM CLIENT_DRIVER
Prints the stub sizes as impacket saw them, and "N passed, N failed".
"""

import json
import os
import select
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from exchange_ndr import *  # noqa: E402,F401,F403
from impacket.dcerpc.v5 import transport  # noqa: E402
from impacket.dcerpc.v5.rpcrt import DCERPCException, DCERPCServer  # noqa: E402

passed = 0
failed = 0
sizes = []


def check(condition, what):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print('FAIL: ' + what, flush=True)


class Simulator:
    def __init__(self, path, *options):
        self.process = subprocess.Popen([path, '--port', '0'] + list(options), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.fd = self.process.stdout.fileno()
        self.buffer = b''
        self.pending = []
        self.seq = 0
        self.port = self.next('listening')['port']

    def next(self, name, timeout=5.0):
        """The next event with this name; others wait in self.pending."""
        for event in self.pending:
            if event['event'] == name:
                self.pending.remove(event)
                return event
        while True:
            while b'\n' not in self.buffer:
                # Reads the pipe directly: a buffered reader would hide lines from select().
                ready, _, _ = select.select([self.fd], [], [], timeout)
                chunk = os.read(self.fd, 65536) if ready else b''
                if not chunk:
                    return None
                self.buffer += chunk
            line, self.buffer = self.buffer.split(b'\n', 1)
            event = json.loads(line)
            if event['event'] == name:
                return event
            self.pending.append(event)

    def command(self, **fields):
        self.seq += 1
        fields['seq'] = self.seq
        self.process.stdin.write(json.dumps(fields) + '\n')
        self.process.stdin.flush()
        ack = self.next('ack')
        assert ack and ack['seq'] == self.seq, 'command not acknowledged: %r' % fields

    def quit(self):
        try:
            self.process.stdin.write('{"cmd":"quit"}\n')
            self.process.stdin.flush()
        except BrokenPipeError:
            pass
        self.process.wait(timeout=10)


def call(dce, request, response_class, label):
    """Sends request, returns the decoded answer; records both stub sizes."""
    stub = request.getData()
    dce.call(request.opnum, stub)
    answer = dce.recv()
    sizes.append((label, len(stub), len(answer)))
    return response_class(answer), stub, answer


def record_with(ref):
    record = MessageRecord()
    record['MsgReferenceId'] = ref
    call_record = CallRecord()
    for field in ('CallId', 'NetworkCallId', 'NodeId', 'HeldCallId', 'ReservedCallReference'):
        call_record[field] = 0
    record['Call'] = call_record
    record['ReservedArray'] = b'\0' * 36
    return record


def impacket_client_against_exchange_sim(sim_path):
    sim = Simulator(sim_path, '--hold-ms', '300', '--idle-result', '1')
    try:
        dce = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % sim.port).get_dce_rpc()
        dce.connect()
        dce.bind(INTERFACE)

        request = registerProvider()
        request['RegistrationId'] = 4711
        provider_names = ProviderNames()
        provider_names['PrimaryName'] = names('Brasken')
        provider_names['SecondaryName'] = names('Brasken')
        request['Names'] = provider_names
        flags = RegistrationFlags()
        flags['Flag1'] = 1
        flags['Flag2'] = 1
        request['Flags'] = flags
        answer, stub, raw = call(dce, request, registerProviderResponse, 'registerProvider')
        check(len(stub) == 212 and len(raw) == 22, 'registerProvider stub sizes %d/%d' % (len(stub), len(raw)))
        check(answer['Result'] == 0, 'registerProvider result')
        context = answer['Context']
        event = sim.next('registered')
        check(event is not None and event['providerId'] == 4711, 'registered event')
        uuid_text = str(__import__('uuid').UUID(bytes_le=context['Uuid']))
        check(event is not None and event['context'] == uuid_text, 'context text names the handle')
        check(event is not None and event['names'] == ['Brasken', 'Brasken'] and event['flags'] == [1, 1],
              'names and flags as sent')

        def fetch(label):
            request = Zem_GetMessageBridge()
            request['Context'] = context
            request['Reserved'] = 0
            return call(dce, request, Zem_GetMessageBridgeResponse, label)

        for label, items, expected in (
                ('Zem_GetMessageBridge, ten empty strings', [], 200),
                ('Zem_GetMessageBridge, "abc" and "" alternating', ['abc', ''] * 5, 220),
                ('Zem_GetMessageBridge, ten 80-character strings', ['m' * 80] * 10, 1800)):
            sim.command(cmd='send', type='request', ref=600 + expected, callId=11, networkCallId=12, nodeId=13,
                        heldCallId=14, callRef=15, items=items)
            answer, stub, raw = fetch(label)
            check(len(stub) == 22 and len(raw) == expected, '%s: sizes %d/%d' % (label, len(stub), len(raw)))
            check(answer['Result'] == 0, label + ': result')
            record = answer['Record']
            check(record['MsgReferenceId'] == 600 + expected and record['MsgProviderId'] == 4711
                  and record['MsgType'] == 1, label + ': record header')
            call_record = record['Call']
            check([call_record[f] for f in ('CallId', 'NetworkCallId', 'NodeId', 'HeldCallId',
                                            'ReservedCallReference')] == [11, 12, 13, 14, 15],
                  label + ': call record')
            texts = [string_text(answer['Data']['String%d' % i]) for i in range(10)]
            check(texts == (items + [''] * 10)[:10], label + ': strings %r' % texts)
            check(raw[4 + 4 + 4 + 4 + 20 + 4 + 4:80] == b'\0' * 36 and raw[8:12] == b'\0' * 4,
                  label + ': reserved fields zero')
            check(sim.next('delivered')['ref'] == 600 + expected, label + ': delivered event')

        answer, _, raw = fetch('Zem_GetMessageBridge, nothing queued')
        check(answer['Result'] == 1, 'idle result after the hold')

        for label, items, expected in (('sendCompletion, no items', [], 218),
                                       ('sendCompletion, "abc" and "" alternating', ['abc', ''] * 5, 238),
                                       ('sendCompletion, ten 80-character items', ['c' * 80] * 10, 1818)):
            request = sendCompletion()
            request['Context'] = context
            request['Record'] = record_with(777)
            request['Data'] = message_data(items)
            answer, stub, raw = call(dce, request, sendCompletionResponse, label)
            check(len(stub) == expected and len(raw) == 2, '%s: sizes %d/%d' % (label, len(stub), len(raw)))
            check(answer['Result'] == 0, label + ': result')
            event = sim.next('completion')
            check(event is not None and event['ref'] == 777 and event['items'] == (items + [''] * 10)[:10],
                  label + ': completion event with all ten strings')

        request = keepAlive()
        request['Context'] = context
        answer, stub, raw = call(dce, request, keepAliveResponse, 'keepAlive')
        check(len(stub) == 20 and len(raw) == 2 and answer['Result'] == 0, 'keepAlive')
        check(sim.next('keepalive') is not None, 'keepalive event')

        sim.command(cmd='fail', proc='keepAlive', result=1004)
        answer, _, _ = call(dce, request, keepAliveResponse, 'keepAlive, injected 1004')
        check(answer['Result'] == 1004, 'injected result')

        sim.command(cmd='fail', proc='keepAlive', action='fault')
        try:
            dce.request(request, checkError=False)
            check(False, 'injected fault raises')
        except DCERPCException as error:
            check('nca_s_fault_user_defined' in str(error), 'injected fault: %s' % error)

        try:
            dce.call(5, b'')
            dce.recv()
            check(False, 'unknown opnum raises')
        except DCERPCException as error:
            check('nca_s_op_rng_error' in str(error), 'unknown opnum: %s' % error)

        stranger = ProviderContext()
        stranger['Attributes'] = 0
        stranger['Uuid'] = b'\x42' * 16
        bad = keepAlive()
        bad['Context'] = stranger
        try:
            dce.request(bad, checkError=False)
            check(False, 'unknown context raises')
        except DCERPCException as error:
            check('nca_s_fault_context_mismatch' in str(error), 'unknown context: %s' % error)

        request = deRegisterProvider()
        request['Context'] = context
        answer, stub, raw = call(dce, request, deRegisterProviderResponse, 'deRegisterProvider')
        check(len(stub) == 20 and len(raw) == 22 and answer['Result'] == 0, 'deRegisterProvider')
        check(answer['Context']['Uuid'] == b'\0' * 16, 'context comes back null')
        check(sim.next('deregistered') is not None, 'deregistered event')
        dce.disconnect()
    finally:
        sim.quit()


def impacket_client_fragmented(sim_path):
    """Small fragments both ways: impacket cuts the request, exchange-sim the answer."""
    sim = Simulator(sim_path, '--hold-ms', '300', '--max-frag', '256')
    try:
        dce = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % sim.port).get_dce_rpc()
        dce.set_max_fragment_size(200)
        dce.connect()
        dce.bind(INTERFACE)
        request = registerProvider()
        request['RegistrationId'] = 5
        provider_names = ProviderNames()
        provider_names['PrimaryName'] = names('Brasken')
        provider_names['SecondaryName'] = names('Brasken')
        request['Names'] = provider_names
        flags = RegistrationFlags()
        flags['Flag1'] = 1
        flags['Flag2'] = 1
        request['Flags'] = flags
        dce.call(0, request.getData())
        context = registerProviderResponse(dce.recv())['Context']
        sim.command(cmd='send', type='info', ref=1, items=['f' * 80] * 10)
        fetch = Zem_GetMessageBridge()
        fetch['Context'] = context
        fetch['Reserved'] = 0
        dce.call(2, fetch.getData())
        answer = Zem_GetMessageBridgeResponse(dce.recv())
        check(answer['Result'] == 0 and string_text(answer['Data']['String9']) == 'f' * 80,
              'an answer in many fragments is reassembled by impacket')
        completion = sendCompletion()
        completion['Context'] = context
        completion['Record'] = record_with(1)
        completion['Data'] = message_data(['g' * 80] * 10)
        dce.call(3, completion.getData())
        check(sendCompletionResponse(dce.recv())['Result'] == 0, 'a request in many fragments is reassembled')
        event = sim.next('completion')
        check(event is not None and event['items'] == ['g' * 80] * 10, 'fragmented completion arrives whole')
        dce.disconnect()
    finally:
        sim.quit()


def our_client_against_impacket_server(driver_path):
    received = []

    def decoded(request_class, stub, label):
        """impacket decodes the stub and encodes it again: the bytes must match."""
        value = request_class(stub)
        again = value.getData()
        # impacket fills alignment gaps with 0xCA or 0xCB where we send zero;
        # every other byte must be the same, and our gaps must be zero.
        differences = [i for i in range(min(len(stub), len(again))) if stub[i] != again[i]]
        check(len(again) == len(stub) and all(stub[i] == 0 and again[i] in (0xCA, 0xCB) for i in differences),
              '%s: impacket re-encodes it differently at %r' % (label, differences[:8]))
        received.append((label, value, len(stub)))
        return value

    context_bytes = b'\0\0\0\0' + bytes(range(1, 17))

    def register(stub):
        value = decoded(registerProvider, stub, 'registerProvider from our client')
        check(value['RegistrationId'] == 4711, 'registration id')
        check(value['Names']['PrimaryName'] == names('Brasken') and value['Names']['SecondaryName'] == names('Brasken'),
              'both names "Brasken", zero behind')
        check(value['Flags']['Flag1'] == 1 and value['Flags']['Flag2'] == 1, 'flags 1 and 1')
        answer = registerProviderResponse()
        answer['Context'] = ProviderContext(context_bytes)
        answer['Result'] = 0
        return answer.getData()

    def deregister(stub):
        value = decoded(deRegisterProvider, stub, 'deRegisterProvider from our client')
        check(value['Context'].getData() == context_bytes, 'deregister names the context')
        answer = deRegisterProviderResponse()
        answer['Context'] = ProviderContext(b'\0' * 20)
        answer['Result'] = 0
        return answer.getData()

    def fetch(stub):
        value = decoded(Zem_GetMessageBridge, stub, 'Zem_GetMessageBridge from our client')
        check(value['Reserved'] == 0 and value['Context'].getData() == context_bytes, 'fetch sends the context and 0')
        answer = Zem_GetMessageBridgeResponse()
        record = record_with(4242)
        record['MsgType'] = 3
        answer['Record'] = record
        answer['Data'] = message_data(['from impacket'])
        answer['Result'] = 0
        return answer.getData()

    def complete(stub):
        value = decoded(sendCompletion, stub, 'sendCompletion from our client (%d bytes)' % len(stub))
        check(value['Record']['MsgReferenceId'] == 4242, 'completion carries the reference')
        check(value['Record'].getData()[4:] == b'\0' * 76, 'the other 76 bytes of the record are zero')
        texts = [string_text(value['Data']['String%d' % i]) for i in range(10)]
        check(texts in (['abc', ''] * 5, ['w' * 80] * 10), 'completion strings %r' % texts[:2])
        answer = sendCompletionResponse()
        answer['Result'] = 0
        return answer.getData()

    def keep(stub):
        value = decoded(keepAlive, stub, 'keepAlive from our client')
        check(value['Context'].getData() == context_bytes, 'keepAlive names the context')
        answer = keepAliveResponse()
        answer['Result'] = 0
        return answer.getData()

    server = DCERPCServer()
    server.daemon = True
    server.addCallbacks(('a4f1db00-ca47-1067-b31f-00dd010662da', '1.0'), '0',
                        {0: register, 1: deregister, 2: fetch, 3: complete, 4: keep})
    server.setListenPort(0)
    port = server.getListenPort()
    server.start()
    result = subprocess.run([driver_path, 'ncacn_ip_tcp:127.0.0.1[%d]' % port], capture_output=True, text=True,
                            timeout=30)
    print(result.stdout, end='')
    check(result.returncode == 0, 'our client completed all calls against impacket (exit %d)' % result.returncode)
    check('message 4242 3 from impacket' in result.stdout, 'our client decoded impacket\'s message')
    for label, _, length in received:
        sizes.append((label, length, None))


def main():
    sim_path, driver_path = sys.argv[1], sys.argv[2]
    impacket_client_against_exchange_sim(sim_path)
    impacket_client_fragmented(sim_path)
    our_client_against_impacket_server(driver_path)
    print('Stub sizes as impacket saw them (request / response bytes):')
    for label, request, response in sizes:
        print('  %-55s %5d / %s' % (label, request, '-' if response is None else response))
    print('%d passed, %d failed' % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
