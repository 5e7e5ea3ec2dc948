#include "run/qt_dispatcher.h"

#include <QMetaObject>

TQtMainThreadDispatcher::TQtMainThreadDispatcher()
    : Receiver_(std::make_unique<QObject>()), Previous_(MainThreadDispatcher()) {
  SetMainThreadDispatcher(this);
}

TQtMainThreadDispatcher::~TQtMainThreadDispatcher() {
  if (MainThreadDispatcher() == this) SetMainThreadDispatcher(Previous_);
}

void TQtMainThreadDispatcher::Post(std::function<void()> Call) {
  QMetaObject::invokeMethod(Receiver_.get(), std::move(Call), Qt::QueuedConnection);
}
