#include "run/offset_search.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>

#include "cdrom/audio_cdrom.h"

namespace {

// What the search thread tells the window thread.
struct TSearchState {
  std::atomic<bool> Stop{false};
  std::atomic<bool> Done{false};
  std::mutex Lock;
  std::string Progress;  // under Lock
  std::optional<TFoundOffset> Found;
  TProblem Problem;
};

void Search(TCDIn& Source, int Drive, const std::string& Server, TSearchState& State) {
  try {
    TOffsetSearch search;
    search.Drive = Drive;
    if (!Server.empty()) search.Database.Url = Server;
    search.Progress = [&State](const std::string& Text) {
      std::lock_guard<std::mutex> hold(State.Lock);
      State.Progress = Text;
    };
    search.ShouldStop = [&State] { return State.Stop.load(); };
    State.Found = FindReadOffset(Source, search);
    if (!State.Found)
      State.Problem =
          TProblem("No read offset from -" + std::to_string(MaxSearchedOffset) + " to +" +
                   std::to_string(MaxSearchedOffset) +
                   " samples makes the tracks read match the AccurateRip database. The disc may be "
                   "another pressing than those it knows, or scratched: try another disc.");
  } catch (const std::exception& e) {
    State.Problem = TProblem(e.what());
  }
  State.Done = true;
}

}  // namespace

std::optional<TFoundOffset> SearchReadOffset(QWidget* Parent, int Drive, const std::string& Server,
                                             TProblem& Problem) {
  QProgressDialog dialog(QStringLiteral("Asking the AccurateRip database…"), QStringLiteral("Stop"),
                         0, 0, Parent);
  dialog.setWindowTitle(QStringLiteral("Find the read offset"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(0);
  TCDIn source;  // made here: the CD library is loaded on the window thread
  TSearchState state;
  QObject::connect(&dialog, &QProgressDialog::canceled, [&state] { state.Stop = true; });
  std::thread worker(Search, std::ref(source), Drive, std::cref(Server), std::ref(state));
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (state.Done) return loop.quit();
    std::lock_guard<std::mutex> hold(state.Lock);
    if (!state.Progress.empty()) dialog.setLabelText(QString::fromStdString(state.Progress + "…"));
  });
  poll.start(50);
  loop.exec();
  worker.join();
  // A search the user stopped failed at nothing: no message follows it.
  Problem = state.Stop ? TProblem() : state.Problem;
  return state.Found;
}
