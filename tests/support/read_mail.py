# One message from stdin as a recipient's mail program reads it (policy.default), printed as JSON.
import email
import json
import sys
from email import policy

message = email.message_from_bytes(sys.stdin.buffer.read(), policy=policy.default)
defects = [type(d).__name__ for d in message.defects]
for name, value in message.items():
    defects += ["%s: %s" % (name, type(d).__name__) for d in getattr(value, "defects", ())]
date = message["Date"].datetime if message["Date"] else None
json.dump({
    "subject": str(message["Subject"] or ""),
    "body": message.get_content(),
    "epoch": date.timestamp() if date and date.tzinfo else None,
    "offset": date.utcoffset().total_seconds() // 60 if date and date.tzinfo else None,
    "messageId": str(message["Message-ID"] or ""),
    "defects": defects,
}, sys.stdout)
