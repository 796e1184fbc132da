#pragma once

#include "engine/FailureReason.h"

#include <QWidget>

class QComboBox;
class QLineEdit;

namespace kadmel {

// The row above the folder lists: a search over ID, sender, recipient and subject, and, shown for the
// failed folder, the kind of failure to list. Esc in the field empties it.
class ListSearchBar : public QWidget
{
    Q_OBJECT
public:
    explicit ListSearchBar(QWidget* parent = nullptr);

    QString text() const;
    FailureKind kind() const; // None: every kind
    void showKinds(bool shown);
    // Ctrl+F: the field with its text selected, so typing replaces it.
    void focusSearch();

Q_SIGNALS:
    void changed();

private:
    QLineEdit* m_text = nullptr;
    QComboBox* m_kinds = nullptr;
};

} // namespace kadmel
