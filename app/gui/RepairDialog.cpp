#include "RepairDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/CodePage.h"

namespace qv::gui {

namespace {

// The plain dialog frame the window's layout was drawn for: 4-pixel borders and a 19-pixel title
// bar. It leaves a client area of 339 by 175, in which the two buttons sit 40 pixels from
// either side.
constexpr QMargins kPlainDialogFrame{4, 23, 4, 4};

// Room kept between the controls and the client edge when a thick window frame eats into the
// outer size.
constexpr int kMinEdge = 8;

constexpr int kFontPixels = 11;  // 8 point at 96 dpi

int Round(double v) {
  return static_cast<int>(std::lround(v));
}

}  // namespace

void QtBeeper::ErrorBeep() {
  QApplication::beep();
}

QString DisplayText(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return decoded;
  const std::u16string wide = platform::AnsiToUtf16(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

ProgramOptions ParseArguments(const QStringList& arguments) {
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(arguments.size()));
  for (const QString& arg : arguments)
    args.push_back(arg.toStdString());
  return app::ParseDialogArguments(args);
}

QFont FormFont(double scale) {
  static const char* const kFamilies[] = {"Tahoma", "DejaVu Sans", "Verdana",  "Liberation Sans",
                                          "Arial",  "Noto Sans",   "FreeSans", "Nimbus Sans"};
  const QStringList installed = QFontDatabase::families();
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  font.setFamily(QStringLiteral("Sans Serif"));
  for (const char* family : kFamilies) {
    if (installed.contains(QLatin1String(family), Qt::CaseInsensitive)) {
      font.setFamily(QLatin1String(family));
      break;
    }
  }
  font.setPixelSize(std::max(1, Round(kFontPixels * scale)));
  return font;
}

bool WrappedTextFits(const QFont& font, const QString& text, const QSize& box) {
  const QFontMetrics metrics(font);
  const QRect needed = metrics.boundingRect(QRect(QPoint(0, 0), box),
                                            Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  return needed.width() <= box.width() && needed.height() <= box.height();
}

QFont FitWrappedText(const QFont& base, const QString& text, const QSize& box) {
  if (WrappedTextFits(base, text, box)) return base;
  // A slightly narrower face keeps the size the window was drawn for; most sans-serifs that
  // stand in for the window's font are a little wider than it.
  QFont font = base;
  for (int stretch = 97; stretch >= QFont::Condensed; stretch -= 3) {
    font.setStretch(stretch);
    if (WrappedTextFits(font, text, box)) return font;
  }
  font.setStretch(QFont::Condensed);
  for (int pixels = base.pixelSize() - 1; pixels >= 6; --pixels) {
    font.setPixelSize(pixels);
    if (WrappedTextFits(font, text, box)) return font;
  }
  return font;
}

RepairDialog::RepairDialog(platform::Services services, TComponentRegistry& registry)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  label1_ = new QLabel(this);
  label2_ = new QLabel(this);
  button1_ = new QPushButton(this);
  button2_ = new QPushButton(this);
  for (QLabel* label : {label1_, label2_}) {
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMargin(0);
    label->setIndent(0);
  }
  for (QPushButton* button : {button1_, button2_}) {
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
  }

  controller_ = std::make_unique<DialogController>(services, *this, registry);
  label1_->setObjectName(QString::fromStdString(Form().Label1.Name()));
  label2_->setObjectName(QString::fromStdString(Form().Label2.Name()));
  button1_->setObjectName(QString::fromStdString(Form().Button1.Name()));
  button2_->setObjectName(QString::fromStdString(Form().Button2.Name()));
  label1_->setWordWrap(Form().Label1.WordWrap());
  label2_->setWordWrap(Form().Label2.WordWrap());
  // Tab order follows the buttons' TabOrder (Button1 first).
  if (Form().Button1.TabOrder() <= Form().Button2.TabOrder())
    QWidget::setTabOrder(button1_, button2_);
  else
    QWidget::setTabOrder(button2_, button1_);

  setWindowTitle(DisplayText(kFormCaption));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  SyncAll();
  // Nothing may start a run before the start-up checks have run.
  button1_->setEnabled(false);

  connect(button1_, &QPushButton::clicked, this, [this] { controller_->Button1Click(); });
  connect(button2_, &QPushButton::clicked, this, [this] { controller_->Button2Click(); });

  const QScreen* s = screen();
  ApplyScale(s ? s->logicalDotsPerInch() / 96.0 : 1.0);
}

RepairDialog::~RepairDialog() = default;

QRect RepairDialog::Scaled(const TBounds& b) const {
  return QRect(Round(b.left * scale_), Round(b.top * scale_), Round(b.width * scale_),
               Round(b.height * scale_));
}

QSize RepairDialog::OuterSize() const {
  return QSize(Round(TForm1::kFormSize.width * scale_), Round(TForm1::kFormSize.height * scale_));
}

QSize RepairDialog::ClientSizeFor(const QMargins& frame) const {
  const QMargins f = frame.isNull() ? QMargins(Round(kPlainDialogFrame.left() * scale_),
                                               Round(kPlainDialogFrame.top() * scale_),
                                               Round(kPlainDialogFrame.right() * scale_),
                                               Round(kPlainDialogFrame.bottom() * scale_))
                                    : frame;
  const QSize outer = OuterSize();
  QSize client(outer.width() - f.left() - f.right(), outer.height() - f.top() - f.bottom());
  // A frame thicker than the plain one never pushes the controls out of the window.
  QRect used;
  for (const QWidget* w :
       {static_cast<const QWidget*>(label1_), static_cast<const QWidget*>(label2_),
        static_cast<const QWidget*>(button1_), static_cast<const QWidget*>(button2_)})
    used |= w->geometry();
  const int edge = Round(kMinEdge * scale_);
  return client.expandedTo(QSize(used.right() + 1 + edge, used.bottom() + 1 + edge));
}

void RepairDialog::ApplyScale(double scale) {
  scale_ = scale > 0 ? scale : 1.0;
  const QFont font = FormFont(scale_);
  setFont(font);
  // Labels keep their size whatever their text.
  for (auto [label, bounds] :
       {std::pair{label1_, Form().Label1.Bounds()}, std::pair{label2_, Form().Label2.Bounds()}}) {
    const QRect r = Scaled(bounds);
    label->setFixedSize(r.size());
    label->move(r.topLeft());
  }
  button1_->setGeometry(Scaled(Form().Button1.Bounds()));
  button2_->setGeometry(Scaled(Form().Button2.Bounds()));
  label1_->setFont(FitWrappedText(font, label1_->text(), label1_->contentsRect().size()));
  setFixedSize(ClientSizeFor(frame_));
}

void RepairDialog::Centre() {
  const QScreen* s = screen();
  if (!s) return;
  const QRect area = s->availableGeometry();
  const QSize outer(width() + frame_.left() + frame_.right(),
                    height() + frame_.top() + frame_.bottom());
  // The position of a top-level window is that of its frame.
  move(area.x() + (area.width() - outer.width()) / 2,
       area.y() + (area.height() - outer.height()) / 2);
}

void RepairDialog::FitToFrame() {
  const QRect outer = frameGeometry();
  const QRect inner = geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                       outer.right() - inner.right(), outer.bottom() - inner.bottom());
  if (frame.isNull() || frame == frame_) return;
  frame_ = frame;
  frame_fitted_ = true;
  setFixedSize(ClientSizeFor(frame_));
  Centre();
}

QWidget* RepairDialog::WidgetOf(const TControl& control) const {
  if (&control == &Form().Label1) return label1_;
  if (&control == &Form().Label2) return label2_;
  if (&control == &Form().Button1) return button1_;
  if (&control == &Form().Button2) return button2_;
  return nullptr;
}

void RepairDialog::SyncControl(const TControl& control) {
  QWidget* widget = WidgetOf(control);
  if (!widget) return;
  const QString text = DisplayText(control.Caption());
  if (auto* label = qobject_cast<QLabel*>(widget))
    label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(widget))
    button->setText(text);
  widget->setEnabled(control.Enabled());
}

void RepairDialog::SyncAll() {
  for (const TControl* c :
       {static_cast<const TControl*>(&Form().Label1), static_cast<const TControl*>(&Form().Label2),
        static_cast<const TControl*>(&Form().Button1),
        static_cast<const TControl*>(&Form().Button2)})
    SyncControl(*c);
}

void RepairDialog::ControlChanged(const TControl& control) {
  SyncControl(control);
}

void RepairDialog::ShowError(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), DisplayText(text),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  box.exec();
}

void RepairDialog::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::Information, QString::fromLatin1(kFormCaption), DisplayText(text),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  box.exec();
}

void RepairDialog::ProcessMessages() {
  if (OnProcessMessages) OnProcessMessages();
  // The label already holds the new text; it is painted at the next turn of the loop.
  if (!controller_->PumpDue()) return;
  QCoreApplication::processEvents();
}

void RepairDialog::CloseWindow() {
  close();
}

void RepairDialog::Start() {
  if (controller_->Start()) SyncAll();
}

void RepairDialog::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!show_pending_) return;
  show_pending_ = false;
  Centre();
  // The start-up checks run once the window is on screen, so that their error box opens above
  // it rather than before it.
  QTimer::singleShot(0, this, [this] {
    FitToFrame();
    Start();
  });
}

void RepairDialog::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // Window managers report the frame they add some time after the window is mapped.
  if (!frame_fitted_ && !show_pending_) FitToFrame();
}

void RepairDialog::closeEvent(QCloseEvent* event) {
  // Keyboard, window manager and program alike: no close while a run is in progress.
  if (controller_->Close())
    event->accept();
  else
    event->ignore();
}

}  // namespace qv::gui
