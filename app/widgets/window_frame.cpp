#include "widgets/window_frame.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <qdrawutil.h>

#include <utility>

namespace {

// Title bar colours, from the left end to the right end.
const QColor ActiveCaptionStart(10, 36, 106);
const QColor ActiveCaptionEnd(166, 202, 240);
const QColor InactiveCaptionStart(128, 128, 128);
const QColor InactiveCaptionEnd(192, 192, 192);
const QColor InactiveCaptionText(212, 208, 200);

constexpr int CaptionTextIndent = 4;
constexpr int GlyphSize = 16;
constexpr int FrameButtonSide = 35;
const QPoint MinimiseButtonPlace(496, 8);
const QPoint MaximiseButtonPlace(536, 8);
const QPoint CloseButtonPlace(576, 8);

enum class TGlyph { Minimise, Maximise, Restore, Close };

void PaintGlyph(QPainter& Painter, TGlyph Glyph) {
  const QColor ink(Qt::black);
  switch (Glyph) {
    case TGlyph::Minimise: Painter.fillRect(QRect(3, 11, 9, 2), ink); break;
    case TGlyph::Maximise:
      Painter.setPen(QPen(ink, 1));
      Painter.drawRect(QRect(2, 2, 11, 11));
      Painter.fillRect(QRect(2, 2, 12, 2), ink);
      break;
    case TGlyph::Restore:
      Painter.setPen(QPen(ink, 1));
      Painter.drawRect(QRect(5, 1, 9, 8));
      Painter.fillRect(QRect(5, 1, 10, 2), ink);
      Painter.fillRect(QRect(2, 6, 9, 8), Qt::white);
      Painter.drawRect(QRect(2, 6, 9, 8));
      Painter.fillRect(QRect(2, 6, 10, 2), ink);
      break;
    case TGlyph::Close: {
      Painter.setRenderHint(QPainter::Antialiasing);
      Painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::SquareCap));
      Painter.drawLine(QPointF(4, 4), QPointF(12, 12));
      Painter.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    }
  }
}

// The picture of a frame button, drawn for the screen's pixel density.
QIcon GlyphIcon(TGlyph Glyph, qreal DevicePixelRatio) {
  QPixmap pixmap(QSize(GlyphSize, GlyphSize) * DevicePixelRatio);
  pixmap.setDevicePixelRatio(DevicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  PaintGlyph(painter, Glyph);
  return QIcon(pixmap);
}

QPushButton* FrameButton(QWidget* Parent, const QString& Name, const QString& Purpose,
                         const QPoint& Place) {
  auto* button = new QPushButton(Parent);
  button->setObjectName(Name);
  button->setAccessibleName(Purpose);
  button->setGeometry(QRect(Place, QSize(FrameButtonSide, FrameButtonSide)));
  button->setIconSize(QSize(GlyphSize, GlyphSize));
  // Clicking a frame button leaves the keyboard focus where it was.
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

// The place of an anchored control once the client area has grown by Growth.
QRect AnchoredPlace(const QRect& Place, Qt::Edges Edges, const QSize& Growth) {
  QRect place = Place;
  if (Edges & Qt::RightEdge) {
    if (Edges & Qt::LeftEdge)
      place.setWidth(place.width() + Growth.width());
    else
      place.translate(Growth.width(), 0);
  }
  if (Edges & Qt::BottomEdge) {
    if (Edges & Qt::TopEdge)
      place.setHeight(place.height() + Growth.height());
    else
      place.translate(0, Growth.height());
  }
  return place;
}

bool IsProgramWindow(const QWidget* Widget) {
  const Qt::WindowType type = Widget->windowType();
  return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

}  // namespace

// ---------------------------------------------------------------------------------
// TGradientCaption
// ---------------------------------------------------------------------------------

TGradientCaption::TGradientCaption(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("GradientCaption"));
}

void TGradientCaption::paintEvent(QPaintEvent*) {
  const bool active = window()->isActiveWindow();
  QLinearGradient gradient(rect().topLeft(), rect().topRight());
  gradient.setColorAt(0, active ? ActiveCaptionStart : InactiveCaptionStart);
  gradient.setColorAt(1, active ? ActiveCaptionEnd : InactiveCaptionEnd);
  QPainter painter(this);
  painter.fillRect(rect(), gradient);

  QFont titleFont = font();
  titleFont.setBold(true);
  painter.setFont(titleFont);
  painter.setPen(active ? QColor(Qt::white) : InactiveCaptionText);
  const QRect textArea = rect().adjusted(CaptionTextIndent, 0, -CaptionTextIndent, 0);
  const QString title =
      painter.fontMetrics().elidedText(window()->windowTitle(), Qt::ElideRight, textArea.width());
  painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, title);
}

// The window system moves the window where it can (it then also snaps and constrains it
// as it does for every window); otherwise the window follows the pointer.
void TGradientCaption::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(Event);
    return;
  }
  QWindow* handle = window()->windowHandle();
  if (handle && handle->startSystemMove()) return;
  DragOffset_ = Event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void TGradientCaption::mouseMoveEvent(QMouseEvent* Event) {
  if (DragOffset_) window()->move(Event->globalPosition().toPoint() - *DragOffset_);
}

void TGradientCaption::mouseReleaseEvent(QMouseEvent*) { DragOffset_.reset(); }

// ---------------------------------------------------------------------------------
// TWindowFrame
// ---------------------------------------------------------------------------------

QRect MaximisedOrRestored(const QRect& Outer, const QRect& Screen) {
  const bool atCorner = Outer.topLeft() == Screen.topLeft();
  const bool smallerEverywhere =
      Outer.width() != Screen.width() && Outer.height() != Screen.height();
  if (atCorner && smallerEverywhere) return Screen;
  return QRect(Screen.topLeft(), TWindowFrame::RestoredSize);
}

TWindowFrame::TWindowFrame(QWidget* Window, const QSize& ClientSize)
    : QWidget(Window),
      Window_(Window),
      Caption_(new TGradientCaption(this)),
      Client_(new QWidget(this)),
      AnchorClientSize_(ClientSize) {
  setObjectName(QStringLiteral("WindowFrame"));
  Client_->setObjectName(QStringLiteral("ClientArea"));
  Window_->setWindowFlag(Qt::FramelessWindowHint);
  Window_->installEventFilter(this);
  CreateButtons();
  Window_->setFixedSize(OuterSize(ClientSize));
  LayOut();
}

QSize TWindowFrame::OuterSize(const QSize& ClientSize) {
  const int sides = 2 * (EdgeWidth + BorderWidth);
  return ClientSize + QSize(sides, sides + CaptionHeight);
}

void TWindowFrame::CreateButtons() {
  JvBitBtn2 = FrameButton(Client_, QStringLiteral("JvBitBtn2"), QStringLiteral("Minimise"),
                          MinimiseButtonPlace);
  JvBitBtn3 = FrameButton(Client_, QStringLiteral("JvBitBtn3"),
                          QStringLiteral("Maximise or restore"), MaximiseButtonPlace);
  JvBitBtn4 =
      FrameButton(Client_, QStringLiteral("JvBitBtn4"), QStringLiteral("Close"), CloseButtonPlace);
  const qreal ratio = Window_->devicePixelRatioF();
  JvBitBtn2->setIcon(GlyphIcon(TGlyph::Minimise, ratio));
  JvBitBtn4->setIcon(GlyphIcon(TGlyph::Close, ratio));
  for (QPushButton* button : {JvBitBtn2, JvBitBtn3, JvBitBtn4})
    Anchor(button, Qt::TopEdge | Qt::RightEdge);
  connect(JvBitBtn2, &QPushButton::clicked, this, [this] { JvBitBtn2Click(); });
  connect(JvBitBtn3, &QPushButton::clicked, this, [this] { JvBitBtn3Click(); });
  connect(JvBitBtn4, &QPushButton::clicked, this, [this] { JvBitBtn4Click(); });
}

void TWindowFrame::Anchor(QWidget* Control, Qt::Edges Edges) {
  Anchors_.append(TAnchor{Control, Control->geometry(), Edges});
}

// Places the frame over the whole window, the title bar and the client area inside it,
// and the anchored controls in the client area.
void TWindowFrame::LayOut() {
  const QSize outer = Window_->size();
  setGeometry(QRect(QPoint(0, 0), outer));
  Caption_->setGeometry(EdgeWidth, EdgeWidth, outer.width() - 2 * EdgeWidth, CaptionHeight);
  const int inset = EdgeWidth + BorderWidth;
  Client_->setGeometry(inset, inset + CaptionHeight, outer.width() - 2 * inset,
                       outer.height() - 2 * inset - CaptionHeight);
  const QSize growth = Client_->size() - AnchorClientSize_;
  for (const TAnchor& anchor : Anchors_)
    if (anchor.Control)
      anchor.Control->setGeometry(AnchoredPlace(anchor.Place, anchor.Edges, growth));
  ShowMaximiseOrRestoreGlyph();
}

void TWindowFrame::SetOuterGeometry(const QRect& Outer) {
  Window_->setFixedSize(Outer.size());
  Window_->move(Outer.topLeft());
  LayOut();
}

QRect TWindowFrame::ScreenGeometry() const {
  QScreen* screen = Window_->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect();
}

// The button shows "restore" while the window fills its screen, else "maximise".
void TWindowFrame::ShowMaximiseOrRestoreGlyph() {
  const QRect screen = ScreenGeometry();
  const bool fillsScreen = !screen.isEmpty() && Window_->frameGeometry() == screen;
  JvBitBtn3->setIcon(
      GlyphIcon(fillsScreen ? TGlyph::Restore : TGlyph::Maximise, Window_->devicePixelRatioF()));
}

void TWindowFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  qDrawWinPanel(&painter, rect(), palette(), false);
}

void TWindowFrame::JvBitBtn2Click() {
  HiddenWindows_.clear();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget == Window_ || !widget->isVisible() || !IsProgramWindow(widget)) continue;
    HiddenWindows_.append(widget);
    widget->hide();
  }
  Window_->showMinimized();
}

void TWindowFrame::JvBitBtn3Click() {
  const QRect screen = ScreenGeometry();
  if (screen.isEmpty()) return;
  SetOuterGeometry(MaximisedOrRestored(Window_->frameGeometry(), screen));
}

void TWindowFrame::JvBitBtn4Click() { Window_->close(); }

void TWindowFrame::BringBackHiddenWindows() {
  const QList<QPointer<QWidget>> hidden = std::exchange(HiddenWindows_, {});
  for (const QPointer<QWidget>& widget : hidden)
    if (widget) widget->show();
}

bool TWindowFrame::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == Window_) {
    switch (Event->type()) {
      case QEvent::Resize: LayOut(); break;
      case QEvent::Move: ShowMaximiseOrRestoreGlyph(); break;
      case QEvent::WindowTitleChange:
      case QEvent::ActivationChange: Caption_->update(); break;
      case QEvent::WindowStateChange:
        if (!Window_->isMinimized()) BringBackHiddenWindows();
        break;
      default: break;
    }
  }
  return QWidget::eventFilter(Watched, Event);
}
