#pragma once

#include "ui/Pictures.h"

#include <QFrame>
#include <optional>

class QLabel;

namespace kadmel {

// One panel of the main window's status bar: an optional picture and a text. A text too long for
// the panel is cut with "…" and shown whole as the panel's tooltip.
class StatusPanel : public QFrame
{
    Q_OBJECT
public:
    explicit StatusPanel(int widthPixels, QWidget* parent = nullptr);

    QString text() const { return m_full; }
    void setText(const QString& text);
    // The text as it stands in the panel: the whole text, or its start and "…".
    QString shownText() const;
    std::optional<Picture> picture() const { return m_picture; }
    void setPicture(Picture picture);

    // The panel's width that shows each of these texts whole, beside a picture when `withPicture`.
    int widthFor(const QStringList& texts, bool withPicture) const;
    // A panel with a maximum width asks for all of it.
    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showText();

    QLabel* m_icon;
    QLabel* m_text;
    QString m_full;
    std::optional<Picture> m_picture;
};

} // namespace kadmel
