"""The exchange interface declared with impacket's NDR classes, from the
record tables of the interface (not from our C++ code), so that impacket
encodes and decodes the stubs on its own terms."""

from impacket.dcerpc.v5.ndr import (NDRCALL, NDRSTRUCT, NDRUniFixedArray, NDRUniVaryingArray,
                                    NDRLONG, NDRULONG, NDRSHORT, NDRUSHORT)
from impacket.uuid import uuidtup_to_bin

INTERFACE = uuidtup_to_bin(('a4f1db00-ca47-1067-b31f-00dd010662da', '1.0'))


class ProviderContext(NDRSTRUCT):
    structure = (('Attributes', NDRULONG), ('Uuid', '16s=b""'))


class Name51(NDRUniFixedArray):
    """51 UTF-16 units, sent whole."""
    def getDataLen(self, data, offset=0):
        return 102


class ProviderNames(NDRSTRUCT):
    structure = (('PrimaryName', Name51), ('SecondaryName', Name51))

    def getAlignment(self):
        return 2


class RegistrationFlags(NDRSTRUCT):
    structure = (('Flag1', NDRSHORT), ('Flag2', NDRSHORT))


class CallRecord(NDRSTRUCT):
    structure = (('CallId', NDRLONG), ('NetworkCallId', NDRLONG), ('NodeId', NDRLONG),
                 ('HeldCallId', NDRLONG), ('ReservedCallReference', NDRLONG))


class ReservedArray(NDRUniFixedArray):
    def getDataLen(self, data, offset=0):
        return 36


class MessageRecord(NDRSTRUCT):
    structure = (('MsgReferenceId', NDRLONG), ('MsgProviderId', NDRLONG), ('Reserved1', NDRLONG),
                 ('MsgType', NDRLONG), ('Call', CallRecord), ('Reserved2', NDRLONG),
                 ('Reserved3', NDRLONG), ('ReservedArray', ReservedArray))


class WireString(NDRUniVaryingArray):
    """One MessageData slot: an NDR string of bound 81 with its own offset and actual count."""
    item = NDRUSHORT


class MessageData(NDRSTRUCT):
    structure = tuple(('String%d' % i, WireString) for i in range(10))


def wire_string(text):
    """A WireString holding text and its terminator."""
    units = text.encode('utf-16-le')
    value = WireString()
    value['Data'] = [NDRUSHORT(units[i:i + 2]) for i in range(0, len(units), 2)] + [NDRUSHORT(b'\0\0')]
    return value


def string_text(value):
    """The text of a decoded WireString, without its terminator."""
    # impacket hands out an array member of a structure as its list of items.
    items = value if isinstance(value, list) else value['Data']
    units = b''.join(unit.getData() if hasattr(unit, 'getData') else bytes(unit) for unit in items)
    assert units[-2:] == b'\0\0', 'string without terminator'
    return units[:-2].decode('utf-16-le')


def message_data(items):
    data = MessageData()
    for i in range(10):
        data['String%d' % i] = wire_string(items[i] if i < len(items) else '')
    return data


def names(text):
    units = text.encode('utf-16-le')
    return units + b'\0' * (102 - len(units))


class registerProvider(NDRCALL):
    opnum = 0
    structure = (('RegistrationId', NDRLONG), ('Names', ProviderNames), ('Flags', RegistrationFlags))


class registerProviderResponse(NDRCALL):
    structure = (('Context', ProviderContext), ('Result', NDRSHORT))


class deRegisterProvider(NDRCALL):
    opnum = 1
    structure = (('Context', ProviderContext),)


class deRegisterProviderResponse(NDRCALL):
    structure = (('Context', ProviderContext), ('Result', NDRSHORT))


class Zem_GetMessageBridge(NDRCALL):
    opnum = 2
    structure = (('Context', ProviderContext), ('Reserved', NDRSHORT))


class Zem_GetMessageBridgeResponse(NDRCALL):
    structure = (('Record', MessageRecord), ('Data', MessageData), ('Result', NDRSHORT))


class sendCompletion(NDRCALL):
    opnum = 3
    structure = (('Context', ProviderContext), ('Record', MessageRecord), ('Data', MessageData))


class sendCompletionResponse(NDRCALL):
    structure = (('Result', NDRSHORT),)


class keepAlive(NDRCALL):
    opnum = 4
    structure = (('Context', ProviderContext),)


class keepAliveResponse(NDRCALL):
    structure = (('Result', NDRSHORT),)
