#include "ui/Form4.h"

#include "ui/Pictures.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kadmel {
namespace {
const QString Loading = QStringLiteral("Loading...");
}

Form4::Form4(SplashTimings timings, QWidget* parent) : QWidget(parent), m_label(new QLabel(Loading, this))
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(Loading);
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setAlignment(Qt::AlignCenter);
    QFont font = m_label->font();
    font.setPointSize(font.pointSize() + 4);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setFixedWidth(QFontMetrics(font).horizontalAdvance(Loading) + 8); // the animation must not move it
    auto* layout = new QVBoxLayout(this);
    auto* banner = new QLabel(this);
    banner->setPixmap(namedPixmap(QStringLiteral("Program64")));
    banner->setAlignment(Qt::AlignCenter);
    layout->addWidget(banner);
    layout->addWidget(m_label, 0, Qt::AlignHCenter);
    layout->setContentsMargins(40, 24, 40, 24);

    m_animation.setObjectName(QStringLiteral("animation"));
    m_animation.setParent(this); // found by name; as a member it leaves its parent before the parent goes
    m_animation.setInterval(timings.animationMs);
    m_pause.setInterval(timings.pauseMs);
    m_pause.setSingleShot(true);
    connect(&m_animation, &QTimer::timeout, this, &Form4::animate);
    connect(&m_pause, &QTimer::timeout, this, [this] {
        m_animation.stop();
        Q_EMIT pauseOver();
    });
}

void Form4::start()
{
    m_animation.start();
    m_pause.start();
}

QString Form4::labelText() const
{
    return m_label->text();
}

void Form4::animate()
{
    m_label->setText(Loading.left(7 + m_step));
    m_step = (m_step + 1) % 4;
}

} // namespace kadmel
