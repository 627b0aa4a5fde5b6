#include "app/AboutForm.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "foundation/NvConvert.h"

namespace nv {

const char* const kProductWebAddress = "https://norvane.example.org/opc-client";

namespace {

QFont ArialFont(const QWidget* widget, int pixels, bool bold, bool italic) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(FontScaled(widget, pixels));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void SetColours(QWidget* widget, const QColor& text, const QColor& background) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Window, background);
    widget->setPalette(palette);
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : TNvForm(parent, Qt::Dialog | Qt::FramelessWindowHint), closeTimer_(new QTimer(this)) {
    setObjectName("AboutForm");
    setWindowTitle("About Norvane OPC Client");
    setAutoFillBackground(true);
    const QColor darkBlue(0, 0, 170), navy(0, 0, 128), silver(192, 192, 192), grey(128, 128, 128);
    SetColours(this, Qt::white, darkBlue);

    auto* titleBox = new QFrame(this);
    titleBox->setObjectName("TitlePanel");
    titleBox->setAutoFillBackground(true);
    SetColours(titleBox, Qt::white, navy);

    logo_ = new QLabel(titleBox);
    logo_->setObjectName("ProgramIcon");
    const int logoSize = FontScaled(this, 56);
    logo_->setPixmap(ProgramLogo(logoSize, devicePixelRatioF()));
    logo_->setFixedSize(logoSize, logoSize);
    logo_->setCursor(Qt::PointingHandCursor);
    logo_->setToolTip(kProductWebAddress);
    logo_->installEventFilter(this);

    auto* title = new QLabel("Norvane OPC Test Client", titleBox);
    title->setObjectName("ProductName");
    title->setFont(ArialFont(this, 19, true, true));
    SetColours(title, Qt::white, navy);
    version_ = new QLabel(titleBox);
    version_->setObjectName("Version");
    version_->setFont(ArialFont(this, 16, true, false));
    SetColours(version_, QColor(192, 0, 64), navy);

    auto* titleText = new QVBoxLayout;
    titleText->addStretch();
    titleText->addWidget(title);
    titleText->addWidget(version_);
    titleText->addStretch();
    auto* titleLayout = new QHBoxLayout(titleBox);
    titleLayout->setContentsMargins(FontScaled(this, 8), FontScaled(this, 8), FontScaled(this, 8),
                                    FontScaled(this, 8));
    titleLayout->setSpacing(FontScaled(this, 12));
    titleLayout->addWidget(logo_);
    titleLayout->addLayout(titleText, 1);

    auto* notice = new QLabel(
        "This test client is provided free of charge for checking the interoperability of "
        "OPC Data Access servers.",
        this);
    notice->setObjectName("Comments");
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);
    SetColours(notice, silver, darkBlue);

    auto* legal = new QLabel(
        "Copyright \u00A9 The Norvane project. Provided as is, without warranty of any kind.", this);
    legal->setObjectName("Copyright");
    legal->setAlignment(Qt::AlignCenter);
    legal->setWordWrap(true);
    SetColours(legal, grey, darkBlue);

    link_ = new QLabel(kProductWebAddress, this);
    link_->setObjectName("WebLink");
    link_->setAlignment(Qt::AlignCenter);
    link_->setCursor(Qt::PointingHandCursor);
    SetColours(link_, grey, darkBlue);
    link_->installEventFilter(this);

    const int margin = FontScaled(this, 16);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(FontScaled(this, 10));
    layout->addWidget(titleBox);
    layout->addStretch();
    layout->addWidget(notice);
    layout->addStretch();
    layout->addWidget(legal);
    layout->addWidget(link_);

    // Nothing in the box takes the keyboard: every key reaches the box and closes it.
    for (QWidget* child : findChildren<QWidget*>())
        child->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);

    closeTimer_->setObjectName("CloseTimer");
    closeTimer_->setSingleShot(true);
    connect(closeTimer_, &QTimer::timeout, this, &QDialog::accept);

    resize(FontScaled(this, 397, 256).expandedTo(sizeHint()));
}

void TAboutForm::SetVersionText(const std::string& text) {
    version_->setText(Qs(text));
}

void TAboutForm::SetTimeout(int milliseconds) {
    closeTimer_->stop();
    closeTimer_->setInterval(std::max(milliseconds, 0));
    if (milliseconds > 0)
        closeTimer_->start();
}

void TAboutForm::SetLinkUnderlined(bool underlined) {
    QFont font = link_->font();
    font.setUnderline(underlined);
    link_->setFont(font);
}

void TAboutForm::OpenWebAddress() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductWebAddress)));
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == link_ || watched == logo_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                    OpenWebAddress();
                    return true;
                }
                break;
            case QEvent::Enter:
                if (watched == link_)
                    SetLinkUnderlined(true);
                break;
            case QEvent::Leave:
                if (watched == link_)
                    SetLinkUnderlined(false);
                break;
            default:
                break;
        }
    }
    return TNvForm::eventFilter(watched, event);
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    event->accept();
    accept();
}

// Clicks on the labels that do not open the web address reach the box too.
void TAboutForm::mousePressEvent(QMouseEvent* event) {
    event->accept();
    accept();
}

void TAboutForm::showEvent(QShowEvent* event) {
    TNvForm::showEvent(event);
    CentreOn(nullptr);
    setFocus();
}

void ShowAboutBox(int timeoutMs) {
    TAboutForm box(QApplication::activeWindow());
    box.SetVersionText("Version " + FileVersionToStr(ProgramFileName(), "%d.%d.%d.%d"));
    box.SetTimeout(timeoutMs);
    box.exec();
}

void ShowStartupSplash() {
    static bool shown = false;
    if (shown)
        return;
    shown = true;
    ShowAboutBox(1500);
}

}  // namespace nv
