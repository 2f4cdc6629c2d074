// The repair window under the offscreen platform: start-up states, the run driven by a click,
// error boxes, refused closes, the layout at several dpi factors and the screenshots.
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <tuple>
#include <vector>

#include "RepairDialog.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "support/FakePlatform.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using qv::TForm1;
using qv::gui::RepairDialog;
using qv::test::ReadFile;
using qv::test::WriteFile;

namespace {

// A store of `count` small messages, the first from ann@example.com.
std::string Store(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) {
    s += "From sender@example.com Mon Jan 05 10:00:00 2004\n";
    s += "Message-ID: <m" + std::to_string(i) + "@x>\n";
    s += i == 1 ? "From: Ann <ann@example.com>\n" : "From: b@example.org\n";
    s += "Subject: message " + std::to_string(i) + "\n\nbody " + std::to_string(i) + "\n";
  }
  return s;
}

// Accepts every message box that opens, noting what it showed and how many beeps had sounded.
class BoxCatcher : public QObject {
 public:
  struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QList<QAbstractButton*>::size_type buttons;
    bool okOnly;
    int beepsBefore;
  };

  explicit BoxCatcher(const qv::test::CountingBeeper& beeper) : beeper_(beeper) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(5);
  }
  QList<Box> boxes;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->buttons().size(),
                  box->standardButtons() == QMessageBox::Ok, beeper_.beeps});
    box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
  }

  const qv::test::CountingBeeper& beeper_;
  QTimer timer_;
};

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<qv::test::FakeServices> fake_;
  std::unique_ptr<qv::TComponentRegistry> registry_;
  std::unique_ptr<BoxCatcher> catcher_;
  std::unique_ptr<RepairDialog> dialog_;

  fs::path Dir() const { return fs::path(tmp_->path().toStdString()); }
  fs::path Folder() const { return Dir() / "profile" / "default"; }

  void WriteIndex(const std::string& name,
                  const std::vector<std::tuple<std::string, std::string, bool>>& entries) {
    qv::TqvMailBox box(nullptr);
    box.SetName("MailBox");
    box.TreeItems().NewItem().SetText("Inbox");
    for (const auto& [id, key, read] : entries) {
      auto& item = box.MailItems().NewItem();
      item.SetMessageId(id);
      item.SetFolderKey(key);
      item.SetRead(read);
    }
    qv::platform::SystemFileSystem files;
    // The profile's name is ANSI; the file has it in the file system's encoding.
    box.SaveToFile((Folder() / (files.FileNameFromAnsi(name) + ".idx")).string(), files);
  }

  void WriteProfile(const std::string& mailbox) {
    qv::TqvProfile profile(nullptr);
    profile.SetName("qvProfile");
    profile.SetMailbox(mailbox);
    qv::platform::SystemFileSystem files;
    profile.SaveToFile((Folder() / "profile.dat").string(), files);
  }

  // Shows the dialog on the temporary program folder and waits for its start-up checks.
  bool Open(bool setDir = true) {
    dialog_ = std::make_unique<RepairDialog>(fake_->services(), *registry_);
    if (setDir) dialog_->Form().SetAppDir(Dir().string());
    dialog_->show();
    return QTest::qWaitFor([this] { return dialog_->Started(); });
  }

  RepairDialog& D() { return *dialog_; }

  // Runs the application's event loop as the program does, with `action` as its first event;
  // the loop's exit code, or -1 when the program did not end within five seconds.
  static int RunUntilQuit(const std::function<void()>& action) {
    QTimer::singleShot(0, qApp, action);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-1); });
    watchdog.start(5000);
    return QApplication::exec();
  }

  void SaveScreenshot(const QPixmap& shot, const char* name) {
    const QByteArray dir = qgetenv("QV_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QVERIFY(shot.save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name)));
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    fs::create_directories(Folder());
    fake_ = std::make_unique<qv::test::FakeServices>(qv::EncodeDateTime(2026, 12, 8, 14, 23, 50));
    registry_ = std::make_unique<qv::TComponentRegistry>();
    catcher_ = std::make_unique<BoxCatcher>(fake_->beeper);
  }

  void cleanup() {
    dialog_.reset();
    // File names that are not UTF-8 are beyond QTemporaryDir's own clean-up.
    if (tmp_) fs::remove_all(Dir());
    catcher_.reset();
    registry_.reset();
    fake_.reset();
    tmp_.reset();
  }

  void startUpStates_data() {
    QTest::addColumn<QByteArray>("profileMailbox");  // empty: no profile.dat
    QTest::addColumn<bool>("haveIndex");
    QTest::addColumn<bool>("clientRunning");
    QTest::addColumn<QString>("label2");
    QTest::addColumn<bool>("repairOffered");
    QTest::addColumn<QStringList>("boxes");

    const QString name = QStringLiteral("Mailbox Name : MAILBOX");
    const QStringList closeClient{QStringLiteral("Please close Quorvane before running.")};
    QTest::newRow("ready without a profile")
        << QByteArray() << true << false << name << true << QStringList();
    QTest::newRow("ready, profile names Inbox2")
        << QByteArray("Inbox2") << true << false << QStringLiteral("Mailbox Name : INBOX2") << true
        << QStringList();
    QTest::newRow("ANSI name shown as plain text")
        << QByteArray("Bo\xEEte<b>") << true << false
        << QStringLiteral("Mailbox Name : BO\u00EETE<B>") << true << QStringList();
    QTest::newRow("blocked: index missing")
        << QByteArray() << false << false << QStringLiteral("Cannot find mailbox") << false
        << QStringList();
    QTest::newRow("blocked: client running")
        << QByteArray() << true << true << name << false << closeClient;
    QTest::newRow("blocked: client running, index missing")
        << QByteArray() << false << true << QStringLiteral("Cannot find mailbox") << false
        << closeClient;
  }

  void startUpStates() {
    QFETCH(QByteArray, profileMailbox);
    QFETCH(bool, haveIndex);
    QFETCH(bool, clientRunning);
    QFETCH(QString, label2);
    QFETCH(bool, repairOffered);
    QFETCH(QStringList, boxes);

    const std::string mailbox = profileMailbox.isEmpty() ? "mailbox" : profileMailbox.toStdString();
    if (!profileMailbox.isEmpty()) WriteProfile(mailbox);
    if (haveIndex) WriteIndex(mailbox, {});
    if (clientRunning) fake_->probe.running.insert("QuorvaneAppMutex");
    QVERIFY(Open());

    QCOMPARE(D().Label1().text(), QString::fromLatin1(qv::kWarningText));
    QCOMPARE(D().Label2().text(), label2);
    QCOMPARE(D().Button1().text(), QStringLiteral("Repair Mailbox"));
    QCOMPARE(D().Button1().isEnabled(), repairOffered);
    QCOMPARE(D().Button2().text(), QStringLiteral("Cancel"));
    QVERIFY(D().Button2().isEnabled());
    QCOMPARE(D().Form().CurrentState(),
             repairOffered ? TForm1::State::Ready : TForm1::State::Blocked);

    QCOMPARE(catcher_->boxes.size(), boxes.size());
    for (qsizetype i = 0; i < boxes.size(); ++i) {
      const auto& box = catcher_->boxes[i];
      QCOMPARE(box.text, boxes[i]);
      QCOMPARE(box.title, QStringLiteral("Error"));
      QCOMPARE(box.icon, QMessageBox::Critical);
      QCOMPARE(box.buttons, 1);
      QVERIFY(box.okOnly);
      QCOMPARE(box.beepsBefore, static_cast<int>(i) + 1);
    }
    QCOMPARE(fake_->beeper.beeps, static_cast<int>(boxes.size()));
  }

  void programFolderDefaultsToTheExecutablesFolder() {
    WriteIndex("mailbox", {});
    fake_->files.programPath = (Dir() / "qvrepair").string();
    QVERIFY(Open(false));
    QCOMPARE(D().Form().CurrentState(), TForm1::State::Ready);
    QCOMPARE(D().Label2().text(), QStringLiteral("Mailbox Name : MAILBOX"));
  }

  void commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<bool>("ok");
    QTest::newRow("no arguments") << QStringList{"qvrepair"} << QString() << true;
    QTest::newRow("--dir") << QStringList{"qvrepair", "--dir", "/opt/q"} << "/opt/q" << true;
    QTest::newRow("--dir without folder") << QStringList{"qvrepair", "--dir"} << QString() << false;
    QTest::newRow("empty folder") << QStringList{"qvrepair", "--dir", ""} << QString() << false;
    QTest::newRow("unknown option") << QStringList{"qvrepair", "-x"} << QString() << false;
  }

  void commandLine() {
    QFETCH(QStringList, args);
    QFETCH(QString, dir);
    QFETCH(bool, ok);
    const auto options = qv::gui::ParseArguments(args);
    QCOMPARE(options.error.empty(), ok);
    QCOMPARE(QString::fromStdString(options.dir), dir);
  }

  void displayText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << QByteArray("Cannot find mailbox!") << "Cannot find mailbox!";
    QTest::newRow("ANSI letter") << QByteArray("Bo\xEEte") << QStringLiteral("Bo\u00EEte");
    QTest::newRow("ANSI euro sign") << QByteArray("\x80 5") << QStringLiteral("\u20AC 5");
    QTest::newRow("UTF-8 from the system")
        << QByteArray("/home/j\xC3\xBCrgen") << QStringLiteral("/home/j\u00FCrgen");
  }

  void displayText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(qv::gui::DisplayText(bytes.toStdString()), shown);
  }

  void windowLooksAsDrawn() {
    WriteIndex("mailbox", {});
    QVERIFY(Open());
    RepairDialog& d = D();
    QCOMPARE(d.windowTitle(), QStringLiteral("Repair Quorvane Mailbox"));
    const Qt::WindowFlags flags = d.windowFlags();
    QVERIFY(flags.testFlag(Qt::Dialog));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    for (Qt::WindowType hint : {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
                                Qt::WindowMaximizeButtonHint, Qt::WindowCloseButtonHint})
      QVERIFY(!flags.testFlag(hint));
    QCOMPARE(d.palette().color(QPalette::Window), d.palette().color(QPalette::Button));
    QVERIFY(d.autoFillBackground());

    // Tab order: Button1, then Button2; the labels take no focus.
    QList<QWidget*> chain;
    for (QWidget* w = d.nextInFocusChain(); w != &d; w = w->nextInFocusChain())
      if (w->focusPolicy() & Qt::TabFocus) chain.append(w);
    QCOMPARE(chain, (QList<QWidget*>{&d.Button1(), &d.Button2()}));
    QCOMPARE(d.Label1().focusPolicy(), Qt::NoFocus);

    // Centred on the screen (the offscreen platform adds no frame).
    const QRect area = d.screen()->availableGeometry();
    QVERIFY(qAbs(d.frameGeometry().center().x() - area.center().x()) <= 1);
    QVERIFY(qAbs(d.frameGeometry().center().y() - area.center().y()) <= 1);
    qInfo("font: %s, %d px, stretch %d", qPrintable(QFontInfo(d.Label1().font()).family()),
          d.Label1().font().pixelSize(), d.Label1().font().stretch());
  }

  void layoutFollowsDpi_data() {
    QTest::addColumn<double>("scale");
    QTest::newRow("96 dpi") << 1.0;
    QTest::newRow("120 dpi") << 1.25;
    QTest::newRow("144 dpi") << 1.5;
    QTest::newRow("192 dpi") << 2.0;
  }

  void layoutFollowsDpi() {
    QFETCH(double, scale);
    WriteIndex("mailbox", {});
    QVERIFY(Open());
    RepairDialog& d = D();
    d.ApplyScale(scale);
    auto scaled = [scale](int v) { return qRound(v * scale); };
    auto rect = [&](int l, int t, int w, int h) {
      return QRect(scaled(l), scaled(t), scaled(w), scaled(h));
    };
    QCOMPARE(d.Label1().geometry(), rect(13, 8, 311, 65));
    QCOMPARE(d.Label2().geometry(), rect(56, 104, 257, 13));
    QCOMPARE(d.Button1().geometry(), rect(40, 128, 153, 25));
    QCOMPARE(d.Button2().geometry(), rect(224, 128, 75, 25));
    QCOMPARE(d.OuterSize(), QSize(scaled(347), scaled(202)));
    // The frame the platform reports is part of the outer size; without one the client area is
    // that of the plain dialog frame, 339 by 175.
    QVERIFY(d.frameGeometry() != d.geometry());
    QCOMPARE(d.frameGeometry().size(), d.OuterSize());
    QCOMPARE(d.ClientSizeFor(QMargins()),
             QSize(scaled(347) - 2 * scaled(4), scaled(202) - scaled(23) - scaled(4)));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    // A thick frame (a big title bar) never pushes the buttons out of the window.
    const QSize thick = d.ClientSizeFor(QMargins(1, 60, 1, 1));
    QVERIFY(thick.height() > d.Button1().geometry().bottom());

    QVERIFY(d.Label1().wordWrap());
    QVERIFY(!d.Label2().wordWrap());
    QCOMPARE(d.Label2().minimumSize(), d.Label2().maximumSize());
    QCOMPARE(d.font().pixelSize(), scaled(11));

    // Every word of the warning is visible inside the label.
    const QFontMetrics metrics(d.Label1().font());
    const QRect box = d.Label1().contentsRect();
    const QRect needed = metrics.boundingRect(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                                              d.Label1().text());
    QVERIFY2(box.contains(needed), qPrintable(QStringLiteral("needs %1x%2, has %3x%4")
                                                  .arg(needed.width())
                                                  .arg(needed.height())
                                                  .arg(box.width())
                                                  .arg(box.height())));
    // The short label texts fit as well.
    QVERIFY(QFontMetrics(d.font()).horizontalAdvance(d.Label2().text()) <= d.Label2().width());
  }

  void repairRunReplacesTheFiles() {
    WriteIndex("mailbox", {{"<m2@x>", "_msSent", true}});
    WriteFile(Folder() / "mailbox.mbx", Store(3));
    QVERIFY(Open());
    QCOMPARE(D().Form().CurrentState(), TForm1::State::Ready);
    const QPixmap ready = D().grab();
    QCOMPARE(ready.size(), D().size());
    SaveScreenshot(ready, "dialog-ready.png");

    QStringList progress;
    bool buttonsStayedOff = true;
    D().OnProcessMessages = [&] {
      progress.append(D().Label2().text());
      buttonsStayedOff =
          buttonsStayedOff && !D().Button1().isEnabled() && !D().Button2().isEnabled();
    };
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);

    QCOMPARE(progress, (QStringList{"Repairing message : 0", "Repairing message : 1",
                                    "Repairing message : 2", "Repairing message : 3"}));
    QVERIFY(buttonsStayedOff);
    QVERIFY(catcher_->boxes.isEmpty());
    QCOMPARE(D().Form().CurrentState(), TForm1::State::Done);
    QVERIFY(D().Form().Replaced());
    QCOMPARE(D().Label2().text(), QStringLiteral("Repairing message : 3"));
    QCOMPARE(D().Button2().text(), QStringLiteral("Close"));
    QVERIFY(D().Button2().isEnabled());
    QVERIFY(!D().Button1().isEnabled());

    const std::string store = ReadFile(Folder() / "mailbox.mbx");
    QVERIFY(store.starts_with("From ann@example.com Tue Dec 08 14:23:50 2026\r\n"));
    QVERIFY(!fs::exists(Folder() / "mailbox.xyz"));
    qv::TqvMailBox box(nullptr);
    qv::platform::SystemFileSystem files;
    box.LoadFromFile((Folder() / "mailbox.idx").string(), files);
    QCOMPARE(box.MailItems().Count(), 3);
    QCOMPARE(QString::fromStdString(box.MailItems().ItemAt(1).FolderKey()),
             QStringLiteral("_msSent"));

    const QPixmap done = D().grab();
    QCOMPARE(done.size(), D().size());
    SaveScreenshot(done, "dialog-done.png");

    // A second click does nothing: one run per start.
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);
    QCOMPARE(progress.size(), 4);
  }

  void bundledSampleRepairsWithoutAnErrorBox() {
    const fs::path sample = QV_SAMPLE_DIR;
    if (!fs::exists(sample / "profile" / "default" / "mailbox.mbx"))
      QSKIP("the bundled sample is missing");
    fs::copy(sample, Dir(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    QVERIFY(Open());
    QCOMPARE(D().Form().CurrentState(), TForm1::State::Ready);
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);
    QVERIFY(catcher_->boxes.isEmpty());
    QVERIFY(D().Form().Replaced());
    qv::TqvMailBox box(nullptr);
    qv::platform::SystemFileSystem files;
    box.LoadFromFile((Folder() / "mailbox.idx").string(), files);
    QVERIFY(box.MailItems().Count() > 0);
    QCOMPARE(D().Label2().text(),
             QStringLiteral("Repairing message : %1").arg(box.MailItems().Count()));
    QCOMPARE(D().Button2().text(), QStringLiteral("Close"));
  }

  void closeRequestsDuringTheRunAreRefused() {
    WriteIndex("mailbox", {});
    WriteFile(Folder() / "mailbox.mbx", Store(3));
    QVERIFY(Open());
    bool closedDuringRun = false;
    bool asked = false;
    D().OnProcessMessages = [&] {
      if (asked) return;
      asked = true;
      // The program, the window manager (a posted close event, as for Alt+F4) and Escape.
      closedDuringRun = D().close();
      QCoreApplication::postEvent(&D(), new QCloseEvent);
      QTest::keyClick(&D(), Qt::Key_Escape);
    };
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);
    QVERIFY(asked);
    QVERIFY(!closedDuringRun);
    QCoreApplication::processEvents();
    QCOMPARE(D().RefusedCloses(), 2);
    QVERIFY(D().isVisible());
    QVERIFY(D().Form().Replaced());

    // "Close" ends it.
    QCOMPARE(RunUntilQuit([this] { QTest::mouseClick(&D().Button2(), Qt::LeftButton); }), 0);
    QVERIFY(!D().isVisible());
  }

  void cancelClosesTheWindow() {
    WriteIndex("mailbox", {});
    WriteFile(Folder() / "mailbox.mbx", Store(1));
    QVERIFY(Open());
    QCOMPARE(RunUntilQuit([this] { QTest::mouseClick(&D().Button2(), Qt::LeftButton); }), 0);
    QVERIFY(!D().isVisible());
    QCOMPARE(ReadFile(Folder() / "mailbox.mbx"), Store(1));
  }

  void missingStoreShowsAnErrorBox() {
    WriteIndex("mailbox", {{"<m1@x>", "_msSent", true}});
    const std::string oldIndex = ReadFile(Folder() / "mailbox.idx");
    QVERIFY(Open());
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);

    QCOMPARE(catcher_->boxes.size(), 1);
    const auto& box = catcher_->boxes[0];
    QCOMPARE(box.text, QStringLiteral("Cannot find mailbox!"));
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY(box.okOnly);
    QCOMPARE(box.beepsBefore, 1);
    QCOMPARE(D().Form().CurrentState(), TForm1::State::Done);
    QCOMPARE(D().Button2().text(), QStringLiteral("Close"));
    QVERIFY(D().Button2().isEnabled());
    QVERIFY(!D().Button1().isEnabled());
    QCOMPARE(ReadFile(Folder() / "mailbox.idx"), oldIndex);
    QVERIFY(!fs::exists(Folder() / "mailbox.xyz"));
  }

  void repaintsAreCoalescedButTheLabelFollowsEverySeparator() {
    const int count = 3000;
    WriteIndex("mailbox", {});
    WriteFile(Folder() / "mailbox.mbx", Store(count));
    QVERIFY(Open());
    int calls = 0;
    bool followed = true;
    D().OnProcessMessages = [&] {
      followed =
          followed && D().Label2().text() == QStringLiteral("Repairing message : %1").arg(calls);
      ++calls;
    };
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(&D().Button1(), Qt::LeftButton);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(calls, count + 1);
    QVERIFY(followed);
    QVERIFY2(D().EventPumps() <= elapsed / 16 + 2,
             qPrintable(QStringLiteral("%1 pumps in %2 ms").arg(D().EventPumps()).arg(elapsed)));
    QVERIFY(D().EventPumps() >= 1);
    QCOMPARE(D().Label2().text(), QStringLiteral("Repairing message : %1").arg(count));
  }
};

int main(int argc, char** argv) {
  // No display needed: the offscreen platform unless one is chosen explicitly.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  DialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "DialogTest.moc"
