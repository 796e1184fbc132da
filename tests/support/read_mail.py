# One message from stdin as a recipient's mail program reads it (policy.default), printed as JSON.
import email, hashlib, json, sys
from email import policy

raw = sys.stdin.buffer.read()
if any(b > 127 for b in raw.split(b"\r\n\r\n", 1)[0]):  # an address in UTF-8 (RFC 6532), read as its reader does
    message = email.message_from_string(raw.decode("utf-8"), policy=policy.default.clone(utf8=True))
else:
    message = email.message_from_bytes(raw, policy=policy.default)
defects = [type(d).__name__ for d in message.defects]
for name, value in message.items():
    # RFC 6532 allows what Python still notes for an address in UTF-8.
    defects += ["%s: %s" % (name, type(d).__name__) for d in getattr(value, "defects", ())
                if type(d).__name__ != "NonASCIILocalPartDefect"]
date = message["Date"].datetime if message["Date"] else None
json.dump({
    "subject": str(message["Subject"] or ""),
    "body": (message.get_body(("html", "plain")) or message).get_content(),
    # [file name, type, SHA-256 of the bytes] per attachment
    "parts": [[p.get_filename(), p.get_content_type(), hashlib.sha256(p.get_content()).hexdigest()]
              for p in message.iter_attachments()],
    "epoch": date.timestamp() if date and date.tzinfo else None,
    "offset": date.utcoffset().total_seconds() // 60 if date and date.tzinfo else None,
    "messageId": str(message["Message-ID"] or ""),
    "defects": defects,
    # "Name<addr>, <addr>" per address field present
    "addresses": {field: ", ".join("%s<%s>" % (a.display_name, a.addr_spec) for a in message[field].addresses)
                  for field in ("From", "To", "Cc", "Reply-To", "Bcc") if message[field] is not None},
}, sys.stdout)
