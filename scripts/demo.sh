#!/usr/bin/env bash
# make demo: a local SMTP sink on 127.0.0.1, a demo program folder under the build folder whose settings
# point at it with auto-start on, the program itself, and three sample jobs in its job folder (the third an
# invoice with its PDF and XRechnung files).
# With a display the program stays until you close it; without one it runs offscreen, prints what the
# sink received and the store's folders, and ends.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
py=/usr/bin/python3
[ -x "$py" ] || py=python3

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/watch/KDMEML"
cp "$build/kadmel" "$demo/kadmel" # the program folder is the folder of the executable

# The settings hold the port as a 16-bit signed number, so the sink takes a free port up to 32767.
port=$("$py" - <<'PY'
import random, socket
for candidate in random.sample(range(20000, 32768), 200):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", candidate))
        except OSError:
            continue
        print(candidate)
        break
PY
)
# The sink prints each mail it receives as a recipient's mail program reads it: through Python's standard
# parser (policy.default), which decodes the subject's encoded words and the body by its declared charset.
cat >"$demo/demo_sink.py" <<'PY'
import email, html, os, re
from email import policy

class Printer:
    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.content, policy=policy.default)
        page = message.get_body(preferencelist=("html", "plain"))
        text = html.unescape(re.sub(r"<[^>]*>", "", re.sub(r"<BR>", "\n", page.get_content()))).strip()
        print("---------- MAIL RECEIVED ----------")
        print("Envelope:   %s -> %s" % (envelope.mail_from, ", ".join(envelope.rcpt_tos)))
        for name in ("Subject", "Date", "Message-ID", "Content-Type", "X-Mailer"):
            print("%-11s %s" % (name + ":", message.get(name, "")))
        defects = [d for part in message.walk() for d in part.defects]
        defects += [d for _, v in message.items() for d in getattr(v, "defects", ())]
        print("Defects:    %s" % (", ".join(type(d).__name__ for d in defects) or "none"))
        print(re.sub(r"\s*\n\s*", "\n", text))
        # Each attachment as the recipient's program finds it, its bytes against the file the job named.
        for part in message.iter_attachments():
            data = part.get_content()
            source = os.path.join(os.environ.get("DEMO_FILES", ""), part.get_filename() or "")
            same = os.path.isfile(source) and open(source, "rb").read() == data
            print("Anhang:     %s  %s  %d Bytes  %s" % (part.get_filename(), part.get_content_type(), len(data),
                                                     "gleich der Datei des Auftrags" if same else "ABWEICHEND"))
        print("-----------------------------------", flush=True)
        return "250 OK"
PY
# The invoice job's two files, made here: a one-page PDF and an XRechnung (CII syntax) of the same invoice.
files=$(mktemp -d)
"$py" - "$files" <<'PY'
import os, sys
folder = sys.argv[1]
def pdf(lines):
    stream = b"BT /F1 14 Tf 72 760 Td 18 TL " + b" ".join(b"(%s) '" % l.encode("latin-1") for l in lines) + b" ET"
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
               b"/Contents 5 0 R >>",
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
               b"<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream)]
    out, offsets = bytearray(b"%PDF-1.4\n"), []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)
xml = """<?xml version="1.0" encoding="UTF-8"?>
<rsm:CrossIndustryInvoice xmlns:rsm="urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100"
    xmlns:ram="urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100"
    xmlns:udt="urn:un:unece:uncefact:data:standard:UnqualifiedDataType:100">
  <rsm:ExchangedDocumentContext>
    <ram:GuidelineSpecifiedDocumentContextParameter>
      <ram:ID>urn:cen.eu:en16931:2017#compliant#urn:xeinkauf.de:kosit:xrechnung_3.0</ram:ID>
    </ram:GuidelineSpecifiedDocumentContextParameter>
  </rsm:ExchangedDocumentContext>
  <rsm:ExchangedDocument>
    <ram:ID>4711</ram:ID>
    <ram:TypeCode>380</ram:TypeCode>
    <ram:IssueDateTime><udt:DateTimeString format="102">20261207</udt:DateTimeString></ram:IssueDateTime>
  </rsm:ExchangedDocument>
  <rsm:SupplyChainTradeTransaction>
    <ram:IncludedSupplyChainTradeLineItem>
      <ram:AssociatedDocumentLineDocument><ram:LineID>1</ram:LineID></ram:AssociatedDocumentLineDocument>
      <ram:SpecifiedTradeProduct><ram:Name>Wartung Dezember</ram:Name></ram:SpecifiedTradeProduct>
    </ram:IncludedSupplyChainTradeLineItem>
    <ram:ApplicableHeaderTradeAgreement>
      <ram:BuyerReference>04011000-12345-67</ram:BuyerReference>
      <ram:SellerTradeParty><ram:Name>Kadmel Demo GmbH</ram:Name></ram:SellerTradeParty>
      <ram:BuyerTradeParty><ram:Name>Stadtverwaltung München</ram:Name></ram:BuyerTradeParty>
    </ram:ApplicableHeaderTradeAgreement>
    <ram:ApplicableHeaderTradeSettlement>
      <ram:InvoiceCurrencyCode>EUR</ram:InvoiceCurrencyCode>
      <ram:SpecifiedTradeSettlementHeaderMonetarySummation>
        <ram:LineTotalAmount>100.00</ram:LineTotalAmount>
        <ram:TaxBasisTotalAmount>100.00</ram:TaxBasisTotalAmount>
        <ram:TaxTotalAmount currencyID="EUR">19.00</ram:TaxTotalAmount>
        <ram:GrandTotalAmount>119.00</ram:GrandTotalAmount>
        <ram:DuePayableAmount>119.00</ram:DuePayableAmount>
      </ram:SpecifiedTradeSettlementHeaderMonetarySummation>
    </ram:ApplicableHeaderTradeSettlement>
  </rsm:SupplyChainTradeTransaction>
</rsm:CrossIndustryInvoice>
"""
with open(os.path.join(folder, "rechnung-4711.pdf"), "wb") as f:
    f.write(pdf(["Rechnung 4711", "Wartung Dezember: 100,00 EUR netto", "Gesamt: 119,00 \x80"]))
with open(os.path.join(folder, "rechnung-4711.xml"), "wb") as f:
    f.write(xml.encode("utf-8"))
PY

DEMO_FILES="$files" PYTHONPATH="$demo" "$py" -u -m aiosmtpd -n -l "127.0.0.1:$port" -c demo_sink.Printer >"$demo/sink.log" 2>&1 &
sink=$!
program=""
tail_pid=""
cleanup() {
    [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null || true
    [ -n "$program" ] && kill "$program" 2>/dev/null || true
    kill "$sink" 2>/dev/null || true
    rm -rf "$files"
}
trap cleanup EXIT
for _ in $(seq 50); do
    "$py" -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.1
done
echo "SMTP sink listening on 127.0.0.1:$port"

# The settings file: the four texts scrambled with the table "KadMeL#zUb", integers little-endian.
"$py" - "$demo" "$port" <<'PY'
import os, struct, sys
folder, port = sys.argv[1], int(sys.argv[2])
table = "KadMeL#zUb"
def text(value):
    raw = "".join(table[int(d)] for b in value.encode("cp1252", "replace") for d in "%03d" % b).encode("ascii")
    return struct.pack("<H", len(raw)) + raw
record = (text(os.path.join(folder, "watch")) + text("127.0.0.1") + struct.pack("<h", port) + text("demo")
          + text("demo") + struct.pack("<hh", 1, 2))
path = os.path.join(folder, "ZUBData1(3.0).zub")
with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as f:
    f.write(record)
PY

# Every accepted message is also kept as an .eml file in the archive folder, and each job gets a receipt
# for the program that dropped it.
mkdir -p "$demo/archiv" "$demo/watch/KDMEML/Quittungen"
printf '[Archiv]\nOrdner=%s\n[Quittung]\nOrdner=%s\n' "$demo/archiv" "$demo/watch/KDMEML/Quittungen" >"$demo/kadmel.ini"
chmod 600 "$demo/kadmel.ini"

# Three sample jobs in the producer's code page (858: 850 with the euro at D5), the second and third written as
# invoicing programs do, a field per line, with umlauts and the euro; the third carries an invoice as an
# XRechnung and as a PDF.
printf '@@FR demo@kadmel.example@@TO anna@example.com@@SB Willkommen@@\r\n\r\nDies ist die erste Probe-Mail.\r\n' \
    >"$demo/watch/KDMEML/willkommen.zub"
printf '@@FR demo@kadmel.example\r\n@@TO joerg@example.com\r\n@@SB Gr\x81\xe1e aus M\x81nchen\r\n@@\r\n\r\nUmlaute: \x84 \x94 \x81 \x8e \x99 \x9a \xe1\r\nBetrag: 100 \xd5\r\n' \
    >"$demo/watch/KDMEML/umlaute.zub"
printf '@@FR Buchhaltung Kadmel <demo@kadmel.example>\r\n@@TO Rechnungseingang <rechnung@example.org>\r\n@@AN %s\r\n@@AN %s\r\n@@SB Rechnung 4711\r\n@@\r\n\r\nAnbei die Rechnung 4711 \x81ber 119,00 \xd5.\r\n' \
    "$files/rechnung-4711.xml" "$files/rechnung-4711.pdf" >"$demo/watch/KDMEML/rechnung.zub"
echo "Three jobs dropped into $demo/watch/KDMEML/, the invoice's files in $files"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$demo/kadmel" &
    program=$!
    echo "The program runs; the mails land in \"Gesendete Objekte\" within seconds. Close it to end the demo."
    tail -n +1 -f "$demo/sink.log" &
    tail_pid=$!
    wait "$program" || true
    program=""
    exit 0
fi

echo "No display: running the program offscreen."
QT_QPA_PLATFORM=offscreen "$demo/kadmel" &
program=$!
for _ in $(seq 120); do
    [ "$(grep -c 'MAIL RECEIVED' "$demo/sink.log" || true)" -ge 3 ] && break
    sleep 0.5
done
sleep 1 # the store write of the last mail follows its delivery
kill -TERM "$program" # a confirmed exit: the store is saved first
wait "$program" || true
program=""

echo
echo "== What the sink received"
cat "$demo/sink.log"
echo
echo "== The archive ($demo/archiv): mode, size, name"
(cd "$demo/archiv" && find . -type f -printf '%m  %6s  %P\n' | LC_ALL=C sort)
echo
echo "== The archive's check (kadmelctl archiv-pruefen)"
"$build/kadmelctl" --ordner "$demo" archiv-pruefen || true
echo
for job in umlaute rechnung; do
    echo "== The receipt of $job.zub (code page 858, CR LF), as its producer reads it"
    iconv -f CP858 -t UTF-8 "$demo/watch/KDMEML/Quittungen/$job.zub.txt" | tr -d '\r'
done
echo
echo "== The store's folders"
"$py" - "$demo" <<'PY'
import os, struct, sys
folder = sys.argv[1]
def reader(data):
    pos = 0
    def integer():
        nonlocal pos
        value, = struct.unpack_from("<h", data, pos); pos += 2; return value
    def string():
        nonlocal pos
        n, = struct.unpack_from("<H", data, pos); pos += 2
        if n == 0xFFFF:
            n, = struct.unpack_from("<I", data, pos); pos += 4
        value = data[pos:pos + n]; pos += n; return value.decode("cp1252", "replace")
    def array(element):
        nonlocal pos
        dims = integer()
        if dims == 0:
            return []
        count, _lower = struct.unpack_from("<ii", data, pos); pos += 8
        return [element() for _ in range(count)]
    return integer, string, array
with open(os.path.join(folder, "ZUBData2(3.0).zub"), "rb") as f:
    integer, string, array = reader(f.read())
counts = [integer() for _ in range(3)]
mail_count = integer()
ids = [array(integer) for _ in range(3)]
names = ["Gesendete Objekte", "Fehlgeschl. Objekte", "Gelöschte Objekte"]
for name, count, folder_ids in zip(names, counts, ids):
    print(f"{name} ({count})")
    for mail_id in folder_ids[1:count + 1]:
        with open(os.path.join(folder, "Mails", f"Mail({mail_id}).zub"), "rb") as f:
            integer, string, array = reader(f.read())
        array(string); array(string); string()
        sender, to, subject, _body, date, size, status = (string() for _ in range(7))
        sender, to, subject = sender.strip(), to.strip(), subject.strip()  # as the lists show them
        print(f"  {mail_id:>3}  {date}  {sender} -> {to}  \"{subject}\"  {size}  {status}")
print(f"MailCount {mail_count}")
PY
