// The About box: closed by any key, a click or its timer; the logo and the link open the
// product's web address and leave the box open.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/AboutForm.h"
#include "foundation/NvConvert.h"
#include "foundation/NvSysUtils.h"
#include "gui/NvGuiTestSupport.h"

namespace nv {
namespace {

// Records the addresses the box asks the desktop to open, instead of opening a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() {
        QDesktopServices::setUrlHandler("https", this, "Open");
        QDesktopServices::setUrlHandler("http", this, "Open");
    }
    ~UrlRecorder() override {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    }
    std::vector<std::string> opened;

public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString().toStdString()); }
};

class AboutTest : public guitest::GuiTest {
protected:
    UrlRecorder urls_;
};

QLabel* Label(QWidget* box, const char* name) {
    return guitest::Named<QLabel>(box, name);
}

TEST_F(AboutTest, ShowsTitleVersionAndClosesOnAnyKey) {
    std::string caption, title, version, link;
    QColor background, titleColour, versionColour;
    bool frameless = false;
    guitest::OnNextModal([&](QWidget* box) {
        caption = box->windowTitle().toStdString();
        frameless = box->windowFlags().testFlag(Qt::FramelessWindowHint);
        title = Label(box, "ProductName")->text().toStdString();
        version = Label(box, "Version")->text().toStdString();
        link = Label(box, "WebLink")->text().toStdString();
        background = box->palette().color(QPalette::Window);
        titleColour = Label(box, "ProductName")->palette().color(QPalette::WindowText);
        versionColour = Label(box, "Version")->palette().color(QPalette::WindowText);
        EXPECT_FALSE(box->findChild<QTimer*>("CloseTimer")->isActive());
        QTest::keyClick(box, Qt::Key_Space);
    });
    ShowAboutBox(0);
    EXPECT_EQ(caption, "About Norvane OPC Client");
    EXPECT_TRUE(frameless);
    EXPECT_EQ(title, "Norvane OPC Test Client");
    TNvFileVersion v = ProgramVersion();
    EXPECT_EQ(version, Format("Version %d.%d.%d.%d", v.Major, v.Minor, v.Release, v.Build));
    EXPECT_EQ(link, kProductWebAddress);
    EXPECT_EQ(background, QColor(0, 0, 170));
    EXPECT_EQ(titleColour, QColor(Qt::white));
    EXPECT_EQ(versionColour, QColor(192, 0, 64));
    EXPECT_TRUE(urls_.opened.empty());
}

TEST_F(AboutTest, AClickOnTheBackgroundOrATextLineCloses) {
    for (const char* where : {"", "TitlePanel", "ProductName", "Version", "Comments", "Copyright"}) {
        bool clicked = false;
        guitest::OnNextModal([&](QWidget* box) {
            QWidget* target = *where ? box->findChild<QWidget*>(where) : box;
            ASSERT_NE(target, nullptr) << where;
            // The background: a point of the margin, outside every line.
            QPoint at = *where ? target->rect().center() : QPoint(3, 3);
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, at);
            clicked = true;
        });
        ShowAboutBox(0);
        EXPECT_TRUE(clicked) << where;
    }
    EXPECT_TRUE(urls_.opened.empty());
}

TEST_F(AboutTest, TheLinkAndTheLogoOpenTheWebAddressAndTheBoxStays) {
    bool stillOpen = false;
    bool underlinedOver = false, underlinedAfter = true;
    guitest::OnNextModal([&](QWidget* box) {
        QLabel* link = Label(box, "WebLink");
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(link, &enter);
        underlinedOver = link->font().underline();
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(link, &leave);
        underlinedAfter = link->font().underline();
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(Label(box, "ProgramIcon"), Qt::LeftButton);
        stillOpen = box->isVisible();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    ShowAboutBox(0);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(underlinedOver);
    EXPECT_FALSE(underlinedAfter);
    EXPECT_EQ(urls_.opened, (std::vector<std::string>{kProductWebAddress, kProductWebAddress}));
}

TEST_F(AboutTest, TheTimerClosesTheBox) {
    int interval = 0;
    bool active = false;
    // The handler only looks: nothing but the timer closes the box.
    guitest::OnNextModal([&](QWidget* box) {
        auto* timer = box->findChild<QTimer*>("CloseTimer");
        interval = timer->interval();
        active = timer->isActive();
    });
    ShowAboutBox(30);
    EXPECT_EQ(interval, 30);
    EXPECT_TRUE(active);
}

TEST_F(AboutTest, TheStartupSplashShowsOnceForOneAndAHalfSeconds) {
    int interval = 0;
    guitest::OnNextModal([&](QWidget* box) {
        interval = box->findChild<QTimer*>("CloseTimer")->interval();
        QTest::keyClick(box, Qt::Key_Return);
    });
    ShowStartupSplash();
    EXPECT_EQ(interval, 1500);
    // The second call shows nothing: a box would be recorded as unexpected by the fixture.
    ShowStartupSplash();
}

}  // namespace
}  // namespace nv

#include "about_test.moc"
