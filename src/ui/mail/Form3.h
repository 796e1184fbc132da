#pragma once

#include <QDialog>
#include <QTimer>
#include <QUrl>
#include <functional>

class QLabel;

namespace kadmel {

// Opens a link with the desktop's handler; tests pass their own to keep the browser shut.
using LinkOpener = std::function<bool(const QUrl&)>;
LinkOpener desktopLinkOpener();

// The maker's addresses behind the About box's two links.
QUrl aboutWebUrl();
QUrl aboutMailUrl();

// The About box: a picture with the product's text and two red links that show their address
// while the mouse is over them. It closes itself a while after it became active.
class Form3 : public QDialog
{
    Q_OBJECT
public:
    static constexpr int CloseAfterMs = 5000;

    explicit Form3(LinkOpener openLink = desktopLinkOpener(), int closeAfterMs = CloseAfterMs,
                   QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showAddress(QLabel* label);

    LinkOpener m_openLink;
    QTimer m_closeTimer;
    bool m_becameActive = false;
    QPixmap m_background;
    QLabel* m_label1;
    QLabel* m_label2;
};

} // namespace kadmel
