// TAboutForm: the About box with the product's title and version, also the start-up splash.
#pragma once

#include <string>

#include "foundation/ui/NvForm.h"

class QLabel;
class QTimer;

namespace nv {

// The product's web address, opened from the About box.
extern const char* const kProductWebAddress;

class TAboutForm : public TNvForm {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);

    void SetVersionText(const std::string& text);
    // Closes the box after the time (milliseconds); 0 keeps it until the user closes it.
    void SetTimeout(int milliseconds);
    QTimer* CloseTimer() const { return closeTimer_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SetLinkUnderlined(bool underlined);
    void OpenWebAddress();

    QLabel* logo_;
    QLabel* version_;
    QLabel* link_;
    QTimer* closeTimer_;
};

// Shows the About box modally with the program's version; Timeout (milliseconds) closes it by
// itself, 0 keeps it until the user closes it.
void ShowAboutBox(int timeoutMs);
// The start-up splash: the About box for 1.5 seconds, once per run; later calls do nothing.
void ShowStartupSplash();

}  // namespace nv
