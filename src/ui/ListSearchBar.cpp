#include "ui/ListSearchBar.h"

#include "store/Ansi.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>

namespace kadmel {

ListSearchBar::ListSearchBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SearchBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("SearchText"));
    m_text->setPlaceholderText(QStringLiteral("Suchen: Absender, An, Betreff oder ID (Strg+F)"));
    m_text->setClearButtonEnabled(true);
    m_text->setAccessibleName(QStringLiteral("Suchen"));
    auto* clear = new QAction(m_text);
    clear->setShortcut(QKeySequence(Qt::Key_Escape));
    clear->setShortcutContext(Qt::WidgetShortcut);
    connect(clear, &QAction::triggered, m_text, &QLineEdit::clear);
    m_text->addAction(clear);
    m_kinds = new QComboBox(this);
    m_kinds->setObjectName(QStringLiteral("StatusFilter"));
    m_kinds->setAccessibleName(QStringLiteral("Status"));
    m_kinds->addItem(QStringLiteral("Alle Fehler"), int(FailureKind::None));
    for (const FailureKind kind : AllFailureKinds)
        m_kinds->addItem(fromAnsi(failureKindText(kind)), int(kind));
    m_kinds->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_kinds->hide();
    setFocusProxy(m_text);
    row->addWidget(m_text, 1);
    row->addWidget(m_kinds);
    connect(m_text, &QLineEdit::textChanged, this, &ListSearchBar::changed);
    connect(m_kinds, &QComboBox::currentIndexChanged, this, &ListSearchBar::changed);
}

QString ListSearchBar::text() const
{
    return m_text->text();
}

FailureKind ListSearchBar::kind() const
{
    return FailureKind(m_kinds->currentData().toInt());
}

void ListSearchBar::showKinds(bool shown)
{
    m_kinds->setVisible(shown);
}

void ListSearchBar::focusSearch()
{
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

} // namespace kadmel
