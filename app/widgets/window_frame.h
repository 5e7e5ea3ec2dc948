// The main window's own frame. The window system draws no frame, caption or caption
// buttons for the window: `TWindowFrame` paints a fixed single edge, the gradient title
// bar (`TGradientCaption`, which also moves the window when dragged) and a border of
// `BorderWidth` pixels around the client area. The window's controls live in the client
// area (`Client()`) at their client positions. The frame's own buttons sit at the top
// right of the client area: minimise (`JvBitBtn2`), maximise/restore (`JvBitBtn3`) and
// close (`JvBitBtn4`).
//
// The window is not resizable by the user; only the maximise/restore button changes its
// size. Controls anchored to the right or bottom edge of the client area follow those
// edges when it grows.
//
// Window thread only.
#pragma once

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <optional>

class QPushButton;

// The title bar: the window's title on a horizontal gradient, dark to light, in the
// active or inactive colours. Dragging it moves the window.
class TGradientCaption : public QWidget {
  Q_OBJECT

 public:
  explicit TGradientCaption(QWidget* Parent);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  // Where the pointer holds the window, while the window is moved by hand (when the
  // window system cannot move it for us).
  std::optional<QPoint> DragOffset_;
};

// The outer geometry that maximise/restore gives a window whose outer geometry is Outer,
// on a screen whose geometry is Screen: the whole screen when the window stands at the
// screen's top left corner and differs from the screen in both width and height;
// otherwise `RestoredSize` at that corner.
QRect MaximisedOrRestored(const QRect& Outer, const QRect& Screen);

class TWindowFrame : public QWidget {
  Q_OBJECT

 public:
  static constexpr int EdgeWidth = 3;
  static constexpr int CaptionHeight = 19;
  static constexpr int BorderWidth = 5;
  static constexpr QSize RestoredSize{650, 560};

  // Takes over Window's frame (Window must not be shown yet) and gives it the outer
  // size that holds a client area of ClientSize.
  TWindowFrame(QWidget* Window, const QSize& ClientSize);

  QWidget* Client() const { return Client_; }
  TGradientCaption* Caption() const { return Caption_; }
  // The outer size of a window whose client area has ClientSize.
  static QSize OuterSize(const QSize& ClientSize);

  // Control, a child of the client area, keeps its distance to the given Edges of the
  // client area as it grows or shrinks (Qt::LeftEdge | Qt::RightEdge stretches it).
  // Its place now is its place in the client area of the size the frame was made with.
  void Anchor(QWidget* Control, Qt::Edges Edges);

  QPushButton* JvBitBtn2;  // minimise
  QPushButton* JvBitBtn3;  // maximise/restore
  QPushButton* JvBitBtn4;  // close

  // Minimises the whole application: the window, and the program's other open windows
  // hidden until the window comes back.
  void JvBitBtn2Click();
  void JvBitBtn3Click();
  void JvBitBtn4Click();

 protected:
  void paintEvent(QPaintEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  struct TAnchor {
    QPointer<QWidget> Control;
    QRect Place;  // its place while the client area has `AnchorClientSize_`
    Qt::Edges Edges;
  };

  void CreateButtons();
  void SetOuterGeometry(const QRect& Outer);
  void LayOut();
  QRect ScreenGeometry() const;
  void ShowMaximiseOrRestoreGlyph();
  void BringBackHiddenWindows();

  QWidget* Window_;
  TGradientCaption* Caption_;
  QWidget* Client_;
  QSize AnchorClientSize_;
  QList<TAnchor> Anchors_;
  // The program's windows that minimising hid, shown again when the window returns.
  QList<QPointer<QWidget>> HiddenWindows_;
};
