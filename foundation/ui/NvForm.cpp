#include "foundation/ui/NvForm.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <cmath>

// The resources of a static library are registered by name.
static void InitResources() {
    Q_INIT_RESOURCE(nv_foundation_ui);
}

namespace nv {

namespace {

const char* const kLogo = ":/norvane/NORVANEICON.svg";

}  // namespace

QPixmap ProgramLogo(int size, qreal devicePixelRatio) {
    InitResources();
    const int device = static_cast<int>(std::lround(size * devicePixelRatio));
    QPixmap pixmap(device, device);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer{QString::fromLatin1(kLogo)};
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon ProgramIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            i.addPixmap(ProgramLogo(size));
        return i;
    }();
    return icon;
}

int FontScaled(const QWidget* widget, int pixels) {
    const int height = widget ? widget->fontMetrics().height() : QFontMetrics(QApplication::font()).height();
    return static_cast<int>(std::lround(pixels * std::max(height, 13) / 13.0));
}

QSize FontScaled(const QWidget* widget, int width, int height) {
    return QSize(FontScaled(widget, width), FontScaled(widget, height));
}

TNvForm::TNvForm(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {
    setWindowIcon(ProgramIcon());
}

void TNvForm::CentreOn(const QWidget* over) {
    QRect area;
    if (over && over->isVisible())
        area = over->frameGeometry();
    else if (QScreen* screen = over && over->screen() ? over->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        move(area.center() - QPoint(width() / 2, height() / 2));
}

}  // namespace nv
