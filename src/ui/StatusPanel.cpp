#include "ui/StatusPanel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace kadmel {
namespace {

constexpr int Margin = 3;
constexpr int PictureSize = 16;

} // namespace

StatusPanel::StatusPanel(int widthPixels, QWidget* parent)
    : QFrame(parent), m_icon(new QLabel(this)), m_text(new QLabel(this))
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumWidth(widthPixels);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(Margin, 0, Margin, 0);
    layout->setSpacing(Margin);
    m_icon->setFixedSize(PictureSize, PictureSize);
    m_icon->hide();
    layout->addWidget(m_icon);
    layout->addWidget(m_text, 1);
    m_text->setTextFormat(Qt::PlainText);
    // The panel's width is set from outside; a long text must not widen it, and so move its neighbours.
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_text->installEventFilter(this);
}

void StatusPanel::setText(const QString& text)
{
    m_full = text;
    showText();
}

QString StatusPanel::shownText() const
{
    return m_text->text();
}

void StatusPanel::setPicture(Picture picture)
{
    m_picture = picture;
    m_icon->setPixmap(pictureIcon(picture).pixmap(PictureSize, PictureSize));
    m_icon->show();
}

int StatusPanel::widthFor(const QStringList& texts, bool withPicture) const
{
    int widest = 0;
    for (const QString& text : texts)
        widest = std::max(widest, m_text->fontMetrics().horizontalAdvance(text));
    // The label's own margin and a pixel of slack keep the text clear of the frame.
    const int textRoom = widest + 2 * m_text->margin() + 2;
    return 2 * frameWidth() + 2 * Margin + (withPicture ? PictureSize + Margin : 0) + textRoom;
}

QSize StatusPanel::sizeHint() const
{
    const QSize own = QFrame::sizeHint();
    return maximumWidth() < QWIDGETSIZE_MAX ? QSize(maximumWidth(), own.height()) : own;
}

bool StatusPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_text && event->type() == QEvent::Resize)
        showText();
    return QFrame::eventFilter(watched, event);
}

void StatusPanel::showText()
{
    const QString shown = m_text->fontMetrics().elidedText(m_full, Qt::ElideRight, m_text->contentsRect().width());
    m_text->setText(shown);
    setToolTip(shown == m_full ? QString() : m_full);
}

} // namespace kadmel
