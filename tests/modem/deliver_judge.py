#!/usr/bin/env python3
"""Decodes each PDU of a data file with python-gammu and prints one JSON object a line, in the
normalised form the decoder's judge test compares with: sender, text (or data in hex), coding,
concatenation, wall-clock time stamps, and for reports the reference and status.
Exit status 77 when the gammu module cannot be imported."""
import json
import sys

try:
    import gammu
except ImportError:
    sys.exit(77)

CODINGS = {"Default_No_Compression": "gsm7", "Unicode_No_Compression": "ucs2", "8bit": "8bit"}
REPORT_TEXTS = {"Delivered": "delivered", "Pending": "still-trying", "Failed": "failed"}


def stamp(value):
    return value.strftime("%Y-%m-%dT%H:%M:%S") if value else ""


for line in open(sys.argv[1], encoding="utf-8"):
    pdu = line.split("#", 1)[0].strip()
    if not pdu:
        continue
    sms = gammu.DecodePDU(bytes.fromhex(pdu))  # expects the service-centre address first
    out = {"pdu": pdu, "number": sms["Number"], "time": stamp(sms["DateTime"])}
    if sms["Type"] == "Status_Report":
        # A report's DateTime is its service-centre time stamp, SMSCDateTime its discharge time.
        out.update(type="report", reference=sms["MessageReference"],
                   status=sms["DeliveryStatus"], outcome=REPORT_TEXTS.get(sms["Text"], "?"),
                   discharge=stamp(sms["SMSCDateTime"]))
    else:
        text = sms["Text"]
        udh = sms["UDH"]
        out.update(type="deliver", coding=CODINGS.get(sms["Coding"], sms["Coding"]))
        if isinstance(text, bytes):
            out["data"] = text.hex()
        else:
            # The library pads 7-bit text that held escapes with zero units: cut at the first.
            out["text"] = text.split("\x00", 1)[0]
        if udh["Type"].startswith("ConcatenatedMessages"):
            sixteen = udh["ID16bit"] != -1
            out.update(reference=udh["ID16bit"] if sixteen else udh["ID8bit"],
                       total=udh["AllParts"], sequence=udh["PartNumber"])
    print(json.dumps(out, sort_keys=True))
