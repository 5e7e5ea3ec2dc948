#include "disc_reader.h"

#include <algorithm>

TDiscReader::TDiscReader(TCDIn& Source, std::vector<TTrackRead> Reads,
                         std::vector<TTrackSpool*> Spools, std::function<void()> OnReady)
    : Source_(Source),
      Reads_(std::move(Reads)),
      Spools_(std::move(Spools)),
      OnReady_(std::move(OnReady)) {}

TDiscReader::~TDiscReader() { Stop(); }

void TDiscReader::Start() {
  Thread_ = std::thread([this] { Run(); });
}

void TDiscReader::Admit(size_t Count) {
  std::lock_guard<std::mutex> hold(Lock_);
  Admitted_ = std::max(Admitted_, Count);
  Changed_.notify_all();
}

void TDiscReader::Stop() {
  {
    std::lock_guard<std::mutex> hold(Lock_);
    Stopping_ = true;
    Changed_.notify_all();
  }
  if (Thread_.joinable()) Thread_.join();
}

bool TDiscReader::WaitForAdmission(size_t Track) {
  std::unique_lock<std::mutex> hold(Lock_);
  Changed_.wait(hold, [&] { return Stopping_ || Track < Admitted_; });
  return !Stopping_;
}

void TDiscReader::Run() {
  for (size_t track = 0; track < Reads_.size(); ++track) {
    if (!WaitForAdmission(track)) return;
    if (!Reads_[track].Skip) ReadTrack(Reads_[track], *Spools_[track]);
  }
}

// Reads one track to its end into its spool, stopping early when the spool is
// cancelled (its encoder ended) or the reader stops.
void TDiscReader::ReadTrack(const TTrackRead& Read, TTrackSpool& Spool) {
  Source_.SetCurrentDrive(Read.Drive);
  Source_.SetStartTrack(Read.Track);
  Source_.SetEndTrack(Read.Track);
  Source_.SetReadOffset(Read.Offset);
  std::vector<uint8_t> chunk(TCDIn::ChunkBytes);
  try {
    Source_.Open();
    Spool.Opened(Source_.Size);
    OnReady_();
    for (int got; (got = Source_.ReadData(chunk.data(), TCDIn::ChunkBytes)) > 0;) {
      Spool.Write(chunk.data(), static_cast<size_t>(got));
      std::lock_guard<std::mutex> hold(Lock_);
      if (Stopping_ || Spool.Cancelled()) break;
    }
    Source_.Close();
    Spool.Finish(Source_.LastReadReport());
  } catch (const std::exception& e) {
    Source_.Reset();
    Spool.Fail(e.what(), Source_.LastReadReport());
    OnReady_();
  }
}
