#pragma once

#include "ui/Pictures.h"

#include <QFrame>
#include <optional>

class QLabel;

namespace kadmel {

// One panel of the main window's status bar: an optional picture and a text.
class StatusPanel : public QFrame
{
    Q_OBJECT
public:
    explicit StatusPanel(int widthPixels, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    std::optional<Picture> picture() const { return m_picture; }
    void setPicture(Picture picture);

private:
    QLabel* m_icon;
    QLabel* m_text;
    std::optional<Picture> m_picture;
};

} // namespace kadmel
