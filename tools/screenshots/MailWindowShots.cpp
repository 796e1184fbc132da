#include "MailWindowShots.h"

#include "store/ResultCode.h"
#include "ui/mail/Form2.h"
#include "ui/mail/Form3.h"
#include "ui/mail/MailEditor.h"
#include "ui/mail/SysTrayAlert.h"

#include <QDir>
#include <QPixmap>

namespace kadmel {
namespace {

MailRecord sampleMail()
{
    MailRecord mail;
    mail.From = "buchhaltung@example.com";
    mail.To = "kunde@example.org";
    mail.Subject = "Rechnung 2026-117 f\xFCr Ihre Bestellung";
    mail.Body = "Sehr geehrte Damen und Herren,\r\n\r\nanbei erhalten Sie Ihre Rechnung.\r\n\r\nMit freundlichen "
                "Gr\xFC\xDF"
                "en\r\nBuchhaltung";
    mail.Date = "06.12.2026 18:15:11";
    mail.Size = "118 Bytes";
    mail.Status = codeBytes(ResultCode::Sent);
    mail.Log.reset();
    const char* const exchange[][2] = {
        {"220 mail.example.com ESMTP\r\n", "EHLO mail.example.com\r\n"},
        {"250 mail.example.com\r\n", "MAIL FROM: <buchhaltung@example.com>\r\n"},
        {"250 OK\r\n", "RCPT TO: <kunde@example.org>\r\n"},
        {"250 OK\r\n", "DATA\r\n"},
        {"354 End data with <CR><LF>.<CR><LF>\r\n", "(Nachricht, 3 KB)\r\n.\r\n"},
        {"250 OK queued\r\n", "QUIT\r\n"},
        {"221 Bye\r\n", nullptr},
    };
    for (const auto& step : exchange) {
        mail.Log.appendReceived(step[0]);
        if (step[1])
            mail.Log.appendSent(step[1]);
    }
    return mail;
}

// An invoice as an XRechnung with its readable PDF.
QList<AttachmentInfo> sampleAttachments()
{
    return {{"rechnung-2026-117.xml", "application/xml", 14'215}, {"rechnung-2026-117.pdf", "application/pdf", 48'730}};
}

struct SampleTarget : MailEditTarget
{
    MailRecord mail = sampleMail();
    MailRecord* mailRecord(qint16 id) override { return id == 7 ? &mail : nullptr; }
    bool saveAll(QString*) override { return true; }
    QList<AttachmentInfo> attachments(const MailRecord&) override { return sampleAttachments(); }
};

bool save(QWidget& window, const QDir& folder, const QString& name, QString* error)
{
    window.ensurePolished();
    const QString path = folder.filePath(name);
    if (window.grab().save(path, "PNG"))
        return true;
    if (error)
        *error = QStringLiteral("Das Bild %1 konnte nicht geschrieben werden.").arg(QDir::toNativeSeparators(path));
    return false;
}

} // namespace

bool saveMailWindowShots(const QString& folder, QString* error)
{
    const QDir dir(folder);
    Form2 viewer;
    viewer.showMail(sampleMail(), 7, sampleAttachments());
    if (!save(viewer, dir, QStringLiteral("mailviewer-body.png"), error))
        return false;
    viewer.selectTab(1);
    if (!save(viewer, dir, QStringLiteral("mailviewer-log.png"), error))
        return false;

    SampleTarget target;
    frmMailEdit editor(target);
    editor.openMail(7);
    if (!save(editor, dir, QStringLiteral("maileditor.png"), error))
        return false;

    frmSysTrayAlert alert;
    alert.setMessage("E-Mail wird bearbeitet...  (ID 7)\r\nBetreff: " + target.mail.Subject +
                     "\r\nAn: " + target.mail.To);
    if (!save(alert, dir, QStringLiteral("trayalert.png"), error))
        return false;

    Form3 about([](const QUrl&) { return false; }, Form3::CloseAfterMs);
    return save(about, dir, QStringLiteral("about.png"), error);
}

} // namespace kadmel
