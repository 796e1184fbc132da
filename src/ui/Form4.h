#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

namespace kadmel {

struct SplashTimings
{
    int animationMs = 400; // one more dot of "Loading..."
    int pauseMs = 4000;    // shown this long before the main window
};

// The splash window "Loading...". The store is loaded before it shows; start() runs the pause,
// during which the label animates, and then emits pauseOver().
class Form4 : public QWidget
{
    Q_OBJECT
public:
    explicit Form4(SplashTimings timings = {}, QWidget* parent = nullptr);

    void start();
    QString labelText() const;

Q_SIGNALS:
    void pauseOver();

private:
    void animate();

    QLabel* m_label; // Label1
    QTimer m_animation;
    QTimer m_pause;
    int m_step = 0;
};

} // namespace kadmel
