#include "ui/ProgressBox.h"

#include "ui/Pictures.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace kadmel {
namespace {

// Computed in 64 bits: a message of many megabytes has a real percentage, not an overflow.
std::optional<qint16> percentOf(qint32 value, qint32 maximum)
{
    if (maximum == 0)
        return std::nullopt;
    const double p = std::floor(double(qint64(value) * 100) / maximum);
    if (p < std::numeric_limits<qint16>::min() || p > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(p);
}

} // namespace

ProgressBox::ProgressBox(QWidget* parent) : QFrame(parent), m_bar(new QLabel(this)), m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("Picture2"));
    m_bar->setObjectName(QStringLiteral("Image2"));
    m_label->setObjectName(QStringLiteral("Label7"));
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette box = palette();
    box.setColor(QPalette::Window, QColor(0x8a, 0x8f, 0x98));
    setPalette(box);
    m_bar->setPixmap(namedPixmap(QStringLiteral("ProgressBar")));
    m_bar->setScaledContents(true);
    m_bar->resize(0, 0);
    m_bar->hide();
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette text = m_label->palette();
    text.setColor(QPalette::WindowText, Qt::white);
    m_label->setPalette(text);
    hide(); // nothing in hand yet
}

void ProgressBox::SetPBValue(qint32 value, qint32 maximum, qint16 option)
{
    const int w = contentsRect().width();
    const std::optional<qint16> percent = percentOf(value, maximum);
    const qint16 p = percent.value_or(0);
    if (p != m_lastPercent || m_blank) {
        // The fill comes from the same value as the label, so the two never disagree: a value
        // that has no percentage shows "0%" over an empty bar.
        const double width = percent ? std::nearbyint(double(value) * w / maximum) : 0.0; // half to even
        m_bar->resize(int(std::clamp(width, 0.0, double(w))), m_bar->height());
        m_label->setText(QString::number(p) + QLatin1Char('%'));
        m_lastPercent = p;
        m_blank = false;
    }
    // The box is shown exactly while its bar is, so an empty box never stands in the status bar.
    if (option == 1) {
        m_bar->show();
        show();
    } else if (option == 2) {
        clear();
    }
}

void ProgressBox::clear()
{
    m_bar->hide();
    m_bar->resize(0, m_bar->height());
    m_label->clear();
    m_blank = true;
    hide();
}

QString ProgressBox::percentText() const
{
    return m_label->text();
}

int ProgressBox::barWidth() const
{
    return m_bar->width();
}

bool ProgressBox::barShown() const
{
    return !m_bar->isHidden();
}

void ProgressBox::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    const QRect inner = contentsRect();
    m_bar->setGeometry(inner.left(), inner.top(), m_bar->width() > inner.width() ? inner.width() : m_bar->width(),
                       inner.height());
    m_label->setGeometry(inner);
}

} // namespace kadmel
