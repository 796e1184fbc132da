#include "reports/DeliveryReport.h"

#include "reports/BounceText.h"
#include "reports/ReportFields.h"
#include "smtp/DsnParameters.h"

#include <gmime/gmime.h>

#include <memory>

namespace kadmel {

using namespace reports;

namespace {

struct Unref
{
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T> using Ref = std::unique_ptr<T, Unref>;

// GMime's type checks without the C casts of its macros.
template <typename T> T* as(void* object, GType type)
{
    return object && g_type_check_instance_is_a(static_cast<GTypeInstance*>(object), type) ? static_cast<T*>(object)
                                                                                           : nullptr;
}

// A message or a multipart seen as the object it derives from, as GMime's upcast macros do.
GMimeObject* objectOf(void* derived)
{
    return static_cast<GMimeObject*>(derived);
}

bool isType(GMimeObject* object, const char* type, const char* subtype)
{
    return g_mime_content_type_is_type(g_mime_object_get_content_type(object), type, subtype);
}

QByteArray headerOf(GMimeObject* object, const char* name)
{
    const char* value = g_mime_object_get_header(object, name);
    return value ? QByteArray(value) : QByteArray();
}

// A leaf's content, its transfer encoding undone; a message part's message as it stands. Both lie within the bytes
// read, so nothing grows past them.
QByteArray contentOf(GMimeObject* object)
{
    const Ref<GMimeStream> stream(g_mime_stream_mem_new());
    if (auto* part = as<GMimePart>(object, g_mime_part_get_type())) {
        GMimeDataWrapper* content = g_mime_part_get_content(part);
        if (!content || g_mime_data_wrapper_write_to_stream(content, stream.get()) < 0)
            return {};
    } else if (auto* message = as<GMimeMessagePart>(object, g_mime_message_part_get_type())) {
        GMimeMessage* inner = g_mime_message_part_get_message(message);
        if (!inner || g_mime_object_write_to_stream(objectOf(inner), nullptr, stream.get()) < 0)
            return {};
    } else {
        return {};
    }
    const GByteArray* bytes =
        g_mime_stream_mem_get_byte_array(as<GMimeStreamMem>(stream.get(), g_mime_stream_mem_get_type()));
    return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len)) : QByteArray();
}

// The Message-ID of the original a report returns: its message, or its header alone.
QByteArray originalIdOf(GMimeObject* object)
{
    if (auto* part = as<GMimeMessagePart>(object, g_mime_message_part_get_type())) {
        GMimeMessage* message = g_mime_message_part_get_message(part);
        return message ? messageIdIn(headerOf(objectOf(message), "Message-ID")) : QByteArray();
    }
    const QList<FieldBlock> blocks = fieldBlocks(contentOf(object));
    return blocks.isEmpty() ? QByteArray() : messageIdIn(valueOf(blocks.first(), "message-id"));
}

GMimeMultipart* asMultipart(GMimeObject* object)
{
    return as<GMimeMultipart>(object, g_mime_multipart_get_type());
}

// The multipart/report of delivery-status, at the top or within multiparts (never within a returned message).
GMimeMultipart* reportPart(GMimeObject* object, int depth = 0)
{
    GMimeMultipart* multipart = asMultipart(object);
    if (!multipart || depth > 8)
        return nullptr;
    const char* type = g_mime_object_get_content_type_parameter(object, "report-type");
    if (isType(object, "multipart", "report") && type && g_ascii_strcasecmp(type, "delivery-status") == 0)
        return multipart;
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
        if (GMimeMultipart* found = reportPart(g_mime_multipart_get_part(multipart, i), depth + 1))
            return found;
    return nullptr;
}

// The first text/plain part, at the top or within multiparts, as UTF-8.
QByteArray plainText(GMimeObject* object, int depth = 0)
{
    if (GMimeMultipart* multipart = asMultipart(object)) {
        for (int i = 0; depth < 8 && i < g_mime_multipart_get_count(multipart); ++i)
            if (QByteArray text = plainText(g_mime_multipart_get_part(multipart, i), depth + 1); !text.isEmpty())
                return text;
        return {};
    }
    auto* part = as<GMimeTextPart>(object, g_mime_text_part_get_type());
    if (!part || !isType(object, "text", "plain"))
        return {};
    char* text = g_mime_text_part_get_text(part);
    const QByteArray bytes(text);
    g_free(text);
    return bytes;
}

bool isReturnedOriginal(GMimeObject* part)
{
    return isType(part, "message", "rfc822") || isType(part, "message", "global") ||
           isType(part, "text", "rfc822-headers") || isType(part, "message", "global-headers");
}

// The Message-ID of the first original a multipart returns as a part of its own.
QByteArray returnedId(GMimeObject* object)
{
    GMimeMultipart* multipart = asMultipart(object);
    for (int i = 0; multipart && i < g_mime_multipart_get_count(multipart); ++i)
        if (GMimeObject* part = g_mime_multipart_get_part(multipart, i); isReturnedOriginal(part))
            return originalIdOf(part);
    return {};
}

std::optional<DeliveryReport> readStatusReport(GMimeMultipart* report)
{
    QList<FieldBlock> status;
    for (int i = 0; i < g_mime_multipart_get_count(report) && status.isEmpty(); ++i) {
        GMimeObject* part = g_mime_multipart_get_part(report, i);
        if (isType(part, "message", "delivery-status") || isType(part, "message", "global-delivery-status"))
            status = fieldBlocks(contentOf(part));
    }
    const QByteArray messageId = returnedId(objectOf(report));
    if (status.size() < 2)
        return std::nullopt;
    DeliveryReport found;
    found.envelopeId = storeText(fromXtext(valueOf(status.first(), "original-envelope-id")), 250);
    found.messageId = messageId;
    QList<ReportedRecipient> failed, delayed;
    for (const FieldBlock& block : status.mid(1)) {
        const QByteArray action = valueOf(block, "action").toLower();
        if (action != "failed" && !action.startsWith("delayed"))
            continue; // delivered, relayed, expanded: nothing to do
        QByteArray address = typedAddress(valueOf(block, "final-recipient"));
        if (address.isEmpty())
            address = typedAddress(valueOf(block, "original-recipient"));
        const QByteArray diagnostic = typedValue(valueOf(block, "diagnostic-code"));
        QByteArray code = statusIn(valueOf(block, "status"));
        (action == "failed" ? failed : delayed)
            .append({storeText(address, MaxDiagnosticBytes), code.isEmpty() ? statusIn(diagnostic) : code,
                     storeText(diagnostic, MaxDiagnosticBytes)});
    }
    if (failed.isEmpty() && delayed.isEmpty())
        return std::nullopt;
    found.kind = failed.isEmpty() ? ReportKind::Delay : ReportKind::Failure;
    found.recipients = failed.isEmpty() ? delayed : failed;
    return found;
}

void initialiseGMime()
{
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    Q_UNUSED(done)
}

} // namespace

std::optional<DeliveryReport> readDeliveryReport(const QByteArray& message)
{
    initialiseGMime();
    const Ref<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.constData(), size_t(qMin(message.size(), MaxReportBytes))));
    const Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    const Ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed)
        return std::nullopt;
    auto* top = objectOf(parsed.get());
    GMimeObject* body = g_mime_message_get_mime_part(parsed.get());
    std::optional<DeliveryReport> report;
    if (GMimeMultipart* multipart = reportPart(body))
        report = readStatusReport(multipart);
    else
        report = readBounceText({headerOf(top, "From"), headerOf(top, "Subject"), headerOf(top, "X-Failed-Recipients")},
                                plainText(body), returnedId(body));
    if (report && report->envelopeId.isEmpty() && report->messageId.isEmpty())
        return std::nullopt; // names no original: whose it is cannot be told
    return report;
}

} // namespace kadmel
