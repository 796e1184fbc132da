#pragma once

#include "store/Store.h"
#include "ui/mail/MailEditTarget.h"

namespace kadmel {

// The program's store as the editor's target.
class StoreEditTarget final : public MailEditTarget
{
public:
    explicit StoreEditTarget(Store& store) : m_store(store) {}
    MailRecord* mailRecord(qint16 id) override
    {
        return id >= 1 && id <= m_store.tables().MailCount() ? &m_store.tables().mail(id) : nullptr;
    }
    bool saveAll(QString* error) override { return m_store.SaveAll(error); }
    QList<AttachmentInfo> attachments(const MailRecord& mail) override
    {
        return attachmentsOf(m_store.programFolder(), mail);
    }

private:
    Store& m_store;
};

} // namespace kadmel
