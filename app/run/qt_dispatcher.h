// The window thread's side of the workers' hand-offs in the Qt front end.
//
// Threads: constructed and destroyed on the window thread; `Post` is called by the
// output workers. Each posted call is queued into the window thread's event loop and
// runs there the next time that loop (or a local one, as in `PumpMessages`) processes
// its events; the worker that posted it waits in the pipeline core until it has run.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "core/audio_classes.h"

// Installed as the process-wide dispatcher from construction to destruction: create it
// before the outputs and destroy it after them.
class TQtMainThreadDispatcher : public TMainThreadDispatcher {
 public:
  TQtMainThreadDispatcher();
  ~TQtMainThreadDispatcher() override;
  TQtMainThreadDispatcher(const TQtMainThreadDispatcher&) = delete;
  TQtMainThreadDispatcher& operator=(const TQtMainThreadDispatcher&) = delete;

  void Post(std::function<void()> Call) override;

 private:
  // Lives on the window thread, so queued calls made on it run there.
  std::unique_ptr<QObject> Receiver_;
  TMainThreadDispatcher* Previous_;
};
