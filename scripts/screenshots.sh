#!/usr/bin/env bash
# make screenshots: the program's windows on a sample store, under Xvfb, written to docs/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
py=/usr/bin/python3
[ -x "$py" ] || py=python3
out="$root/docs/screenshots"
work="$build/screenshots"
rm -rf "$work"
mkdir -p "$work/program/Mails" "$out"

# The capture program links the build's libraries; it is small and not part of the CMake build.
bash "$root/scripts/install-deps.sh" pkg-config openbox qt6-gtk-platformtheme gnome-themes-extra
g++ -std=c++20 -fPIC -O1 -DQT_NO_KEYWORDS -I"$root/src" $(pkg-config --cflags Qt6Widgets Qt6Network) \
    "$root/tools/screenshots/capture.cpp" "$root/tools/screenshots/MailWindowShots.cpp" \
    "$build/src/libkadmel_ui.a" "$build/src/libkadmel_reports.a" "$build/src/libkadmel_core.a" \
    $(pkg-config --libs Qt6Widgets Qt6Network gmime-3.0) -o "$work/capture"

# A sample store: settings, a folder index and eight mails over the three folders.
watch=/tmp/KADMEL  # a folder that exists, so the picker opens there
mkdir -p "$watch/KDMEML"  # the job folder: a row with its date in the picker
"$py" - "$work/program" "$watch" <<'PY'
import os, struct, sys
folder = sys.argv[1]
table = "KadMeL#zUb"
def enc(value):
    return value.encode("cp1252", "replace")
def string(value, scrambled=False):
    raw = enc(value)
    if scrambled:
        raw = "".join(table[int(d)] for b in raw for d in "%03d" % b).encode("ascii")
    return struct.pack("<H", len(raw)) + raw
def integers(*values):
    return struct.pack("<%dh" % len(values), *values)
def array(elements, encode):
    return struct.pack("<hii", 1, len(elements), 0) + b"".join(encode(e) for e in elements)
def write(name, data):
    path = os.path.join(folder, name)
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as f:
        f.write(data)
write("ZUBData1(3.0).zub", string(sys.argv[2], True) + string("mail.example.com", True) + integers(25)
      + string("anna", True) + string("geheim", True) + integers(2, 1))
mails = [
    ("buchhaltung@kadmel.example", "kunde@example.com", "Rechnung 2026-117", "MSGSENT", 1),
    ("buchhaltung@kadmel.example", "jörg.müller@example.com", "Mahnung: offene Posten", "MSGSENT", 1),
    ("vertrieb@kadmel.example", "einkauf@example.org", "Angebot Nr. 5521", "ERRMessage3", 2),
    ("vertrieb@kadmel.example", "info@example.net", "Lieferschein 8812", "MSGSENT", 1),
    ("buchhaltung@kadmel.example", "gärtnerei@example.de", "Gutschrift 44", "ERRMessage5", 2),
    ("system@kadmel.example", "admin@example.com", "Tagesbericht", "MSGSENT", 3),
    ("vertrieb@kadmel.example", "kunde@example.com", "Auftragsbestätigung 3310", "MSGSENT", 1),
    ("system@kadmel.example", "admin@example.com", "Testmail", "MSGSENT", 3),
]
folders = {1: [0], 2: [0], 3: [0]}
for number, (sender, to, subject, status, home) in enumerate(mails, start=1):
    folders[home].append(number)
    body = "Sehr geehrte Damen und Herren,\r\nanbei erhalten Sie %s.\r\n" % subject
    log_sent = ["EHLO mail.example.com\r\n", "MAIL FROM: <%s>\r\n" % sender, ""]
    log_received = ["220 mail.example.com ESMTP\r\n", "250 OK\r\n", ""]
    if status == "ERRMessage3":  # the server refuses the recipient
        log_sent[2:2] = ["RCPT TO: <%s>\r\n" % to]
        log_received[2:2] = ["250 OK\r\n", "550 5.1.1 <%s>: Mailbox unavailable\r\n" % to]
    size = "%d Bytes" % len(enc(body))
    date = "06.12.2026 %02d:%02d:11" % (8 + number, 5 * number)
    entered = "06.12.2026 %02d:%02d:07" % (8 + number, 5 * number - 3)  # the job came in a little before
    reserved = "<%d.shot@kadmel.example>@@EG %s" % (number, entered)
    write(os.path.join("Mails", "Mail(%d).zub" % number),
          array(log_sent, string) + array(log_received, string) + string(reserved) + string(sender) + string(to)
          + string(subject) + string(body) + string(date) + string(size) + string(status))
index = integers(len(folders[1]) - 1, len(folders[2]) - 1, len(folders[3]) - 1, len(mails))
index += b"".join(array(folders[f], lambda v: integers(v)) for f in (1, 2, 3))
write("ZUBData2(3.0).zub", index)
PY

# A desktop of 1280 x 800 with a window manager (openbox, when installed) and the German locale.
# SCREENSHOT_LANG=C and SCREENSHOT_SCHEME=dark (GTK's dark Adwaita through Qt's gtk3 theme) show the
# same windows for another locale and a dark desktop; SCREENSHOT_OUT takes their pictures elsewhere.
# The README's set (neither given) adds the viewer and the failed folder on a dark desktop.
shoot() { # <output folder> <scheme>
    local theme=()
    [ "$2" = dark ] && theme=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark)
    mkdir -p "$1"
    xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb LANG="${SCREENSHOT_LANG:-de_DE.UTF-8}" \
        "${theme[@]}" bash -c 'command -v openbox >/dev/null && { openbox & sleep 1; }; "$0" "$1" "$2"' \
        "$work/capture" "$work/program" "$1"
}
shoot "${SCREENSHOT_OUT:-$out}" "${SCREENSHOT_SCHEME:-light}"
if [ -z "${SCREENSHOT_OUT:-}${SCREENSHOT_SCHEME:-}${SCREENSHOT_LANG:-}" ]; then
    shoot "$work/dark" dark
    cp "$work/dark/mailviewer-body.png" "$out/mailviewer-body-dark.png"
    cp "$work/dark/main-failed.png" "$out/main-failed-dark.png"
fi
ls -l "${SCREENSHOT_OUT:-$out}"/*.png
