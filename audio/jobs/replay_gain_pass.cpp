#include "jobs/replay_gain_pass.h"

TReplayGainPass::TReplayGainPass(const std::vector<TPlannedJob>& Jobs, TWarn Warn)
    : Jobs_(Jobs.size()), Warn_(std::move(Warn)) {
  for (size_t i = 0; i < Jobs.size(); ++i) Jobs_[i].Disc = Jobs[i].Read.Drive;
}

TLoudnessMeter* TReplayGainPass::Started(size_t Job, const TAudioFileOut& Output) {
  TJob& job = Jobs_[Job];
  job.Tags = Output.Tags();
  job.Meter = std::make_unique<TLoudnessMeter>();
  return job.Meter.get();
}

void TReplayGainPass::Remeasured(size_t Job, std::unique_ptr<TLoudnessMeter> Meter) {
  Jobs_[Job].Meter = std::move(Meter);
}

void TReplayGainPass::Ended(size_t Job, const TTrackEnd* End) {
  TJob& job = Jobs_[Job];
  job.Settled = true;
  if (End && End->Result == TTrackResult::Done && job.Meter && job.Tags)
    job.FileName = End->FileName;
  for (const TJob& other : Jobs_)
    if (other.Disc == job.Disc && !other.Settled) return;
  WriteDisc(job.Disc);
}

void TReplayGainPass::WriteDisc(int Disc) {
  std::vector<const TJob*> done;
  std::vector<const TLoudnessMeter*> meters;
  for (TJob& job : Jobs_) {
    if (job.Disc != Disc || job.FileName.empty()) continue;
    done.push_back(&job);
    meters.push_back(job.Meter.get());
  }
  if (done.empty()) return;
  const TLoudness album = TLoudnessMeter::Album(meters);
  for (const TJob* job : done) WriteFile(*job, album);
  for (TJob& job : Jobs_)
    if (job.Disc == Disc) job.Meter.reset();
}

// The job's tags without gains of an earlier run, then the gains.
void TReplayGainPass::WriteFile(const TJob& Job, const TLoudness& Album) {
  try {
    TTagLines lines;
    for (const std::string& line : *Job.Tags)
      if (!IsGainLine(line)) lines.push_back(line);
    const bool opus = TaggedFormatOf(Job.FileName) == TTaggedFormat::OggOpus;
    for (std::string& line : ReplayGainLines(Job.Meter->Result(), Album, opus))
      lines.push_back(std::move(line));
    RewriteTags(Job.FileName, lines);
  } catch (const std::exception& e) {
    Unwritten_ = true;
    Warn_(std::string("No ReplayGain for \"") + Job.FileName + "\": " + e.what());
  }
}
