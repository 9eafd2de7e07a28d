#!/usr/bin/python3
# Reads SMS-SUBMIT PDUs (hex, service centre in front, as sent to the module)
# with python-gammu, an SMS library we did not write. Prints one line per PDU:
# number, concatenation reference, part, parts and the text as UTF-16 hex, or
# "error <reason>".
import sys

import gammu

for pdu in sys.argv[1:]:
    try:
        sms = gammu.DecodePDU(bytes.fromhex(pdu), SMSC=True)
    except Exception as error:  # a PDU gammu cannot read fails the test
        print('error', str(error).replace('\n', ' '))
        continue
    udh = sms['UDH']
    text = (sms['Text'] or '').encode('utf-16-be').hex().upper()
    print(sms['Type'], sms['Number'], udh['ID8bit'], udh['PartNumber'], udh['AllParts'],
          sms['Coding'], text or '-')
