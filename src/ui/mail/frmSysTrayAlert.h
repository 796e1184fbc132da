#pragma once

#include <QWidget>

class QLabel;

namespace kadmel {

// The alert pop-up: title, message and a close button with a pressed picture. Frameless, on top.
class frmSysTrayAlert : public QWidget
{
    Q_OBJECT
public:
    explicit frmSysTrayAlert(QWidget* parent = nullptr);

    void setMessage(const QByteArray& text); // Windows-1252, CR LF between lines
    bool closePressedShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPressed(bool pressed);

    QLabel* m_label1;
    QLabel* m_msg;
    QLabel* m_image1;
    QLabel* m_image2;
    QLabel* m_label2;
};

} // namespace kadmel
