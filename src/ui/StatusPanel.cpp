#include "ui/StatusPanel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace kadmel {

StatusPanel::StatusPanel(int widthPixels, QWidget* parent)
    : QFrame(parent), m_icon(new QLabel(this)), m_text(new QLabel(this))
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumWidth(widthPixels);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 0, 3, 0);
    layout->setSpacing(3);
    m_icon->setFixedSize(16, 16);
    m_icon->hide();
    layout->addWidget(m_icon);
    layout->addWidget(m_text, 1);
    m_text->setTextFormat(Qt::PlainText);
}

QString StatusPanel::text() const
{
    return m_text->text();
}

void StatusPanel::setText(const QString& text)
{
    m_text->setText(text);
}

void StatusPanel::setPicture(Picture picture)
{
    m_picture = picture;
    m_icon->setPixmap(pictureIcon(picture).pixmap(16, 16));
    m_icon->show();
}

} // namespace kadmel
