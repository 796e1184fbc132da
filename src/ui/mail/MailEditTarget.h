#pragma once

#include "store/MailRecord.h"
#include "store/Store.h"

#include <QString>

namespace kadmel {

// What the mail editor needs of the store: the record it edits and the whole-store write.
class MailEditTarget
{
public:
    virtual ~MailEditTarget() = default;
    // The record of the mail with this ID, or nullptr when there is none.
    virtual MailRecord* mailRecord(qint16 id) = 0;
    // Writes the whole store; false with a German reason in `error` on failure.
    virtual bool saveAll(QString* error) = 0;
};

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

private:
    Store& m_store;
};

} // namespace kadmel
