#pragma once

#include <QFrame>

class QLabel;

namespace kadmel {

// The progress display over status-bar panel 3: a stretched bar picture whose width shows the
// progress, and a centred white percentage over it.
class ProgressBox : public QFrame
{
    Q_OBJECT
public:
    explicit ProgressBox(QWidget* parent = nullptr);

    // Value of maximum; option 1 shows the bar, 2 hides it and blanks the percentage.
    // Never fails: without a percentage (maximum 0) the label reads "0%" and the bar is empty.
    void SetPBValue(qint32 value, qint32 maximum, qint16 option);
    // No mail in hand: the box is hidden and empty; the next value is shown whatever it is.
    void clear();

    qint16 LastPercent() const { return m_lastPercent; }
    QString percentText() const;
    int barWidth() const;
    bool barShown() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_bar;   // Image2
    QLabel* m_label; // Label7
    qint16 m_lastPercent = 0;
    bool m_blank = true; // the label was cleared: the next value is shown even if the percentage is the same
};

} // namespace kadmel
