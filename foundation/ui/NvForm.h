// TNvForm: the plain window of the library. It adds nothing to a dialog window but the
// program's defaults: the program's icon and sizes measured in the units of its font.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <string>

namespace nv {

// The program's logo, also its window icon (the resource "NORVANEICON").
QIcon ProgramIcon();
// The logo drawn at the given size in device-independent pixels, sharp on the given screen
// scaling.
QPixmap ProgramLogo(int size, qreal devicePixelRatio = 1.0);

// Window layouts are given in pixels of the classic 8-point dialog font, whose lines are 13
// pixels high; these scale them to the font the window actually uses, so that no text is
// clipped on a larger font or screen scaling.
int FontScaled(const QWidget* widget, int pixels);
QSize FontScaled(const QWidget* widget, int width, int height);

inline QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string Ss(const QString& text) {
    return text.toStdString();
}

class TNvForm : public QDialog {
    Q_OBJECT
public:
    explicit TNvForm(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // The window centred on `over` (the screen when null), as a dialog opened from it appears.
    void CentreOn(const QWidget* over);
};

}  // namespace nv
