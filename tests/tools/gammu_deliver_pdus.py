#!/usr/bin/python3
# Builds received SMS-DELIVER PDUs with python-gammu (an SMS library we did
# not write), for the received-message cases of tests/received_sms_test.cpp.
# Prints one "name pdu" line per case.
import datetime
import gammu

WHEN = datetime.datetime(2024, 5, 17, 9, 30, 45)


def deliver(name, number, parts, coding):
    for i, part in enumerate(parts):
        sms = dict(part)
        sms.update({'Number': number, 'Folder': 1, 'Location': 0, 'Memory': 'SM',
                    'SMSC': {'Location': 0, 'Number': '+8613800100500'}, 'Type': 'Deliver',
                    'DateTime': WHEN, 'SMSCDateTime': WHEN, 'Coding': coding, 'State': 'UnRead'})
        print('%s_%d %s' % (name, i + 1, gammu.EncodePDU(sms, Layout='Deliver').hex().upper()))


def long_text(name, number, text, unicode, id16=False):
    entry = 'ConcatenatedTextLong16bit' if id16 else 'ConcatenatedTextLong'
    parts = gammu.EncodeSMS({'Class': -1, 'Unicode': unicode,
                             'Entries': [{'ID': entry, 'Buffer': text}]})
    deliver(name, number, parts, 'Unicode_No_Compression' if unicode else 'Default_No_Compression')


deliver('gsm7', '+8613912345678', [{'Text': 'Hello from gammu @ 100%', 'Class': -1}],
        'Default_No_Compression')
deliver('ucs2', '13912345678', [{'Text': '你好，世界', 'Class': -1}], 'Unicode_No_Compression')
long_text('gsm7_long', '+8613912345678', 'x' * 150 + 'ABCDEFGHIJ' * 3, False)
long_text('ucs2_long', '+8613912345678', '短信' * 40, True)
long_text('ucs2_long16', '+8613912345678', '长' * 70 + '尾', True, id16=True)
parts = gammu.EncodeSMS({'Class': -1, 'Entries': [{'ID': 'ConcatenatedTextLong',
                                                   'Buffer': 'b' * 200}]})
for p in parts:
    p['Text'] = b'\x01\x02\xff' if isinstance(p.get('Text'), bytes) else p['Text']
deliver('data8', '+8613912345678', [{'Text': b'\x01\x02\xfe\xff', 'Class': -1}], '8bit')
