#include "rip_proof.h"

#include <map>

#include "disc_proof.h"

void TRunProof::Prove(const std::vector<TPlannedJob>& Jobs,
                      const std::vector<TJobOutcome>& Outcomes) {
  if (!Options_.Log) return;
  std::vector<int> drives;  // in the order the run met them
  std::map<int, std::vector<size_t>> jobsOf;
  for (size_t i = 0; i < Jobs.size(); ++i) {
    if (!Jobs[i].Problem.empty() || !Outcomes[i].Ended) continue;
    if (jobsOf.count(Jobs[i].Read.Drive) == 0) drives.push_back(Jobs[i].Read.Drive);
    jobsOf[Jobs[i].Read.Drive].push_back(i);
  }
  for (int drive : drives) {
    const TDiscFacts& facts = Knowledge_.Of(drive);
    TDiscProof disc{facts.Listing,
                    facts.Info,
                    Jobs[jobsOf[drive].front()].Read.Offset,
                    {},
                    Options_.AccurateRip,
                    Options_.AccurateRipServer,
                    Options_.OutDir};
    for (size_t job : jobsOf[drive]) {
      const TJobOutcome& outcome = Outcomes[job];
      disc.Tracks.push_back(TProvedTrack{Jobs[job].Read.Track, outcome.FileName, outcome.Done,
                                         outcome.Failure, outcome.Proof});
    }
    const std::vector<std::string> verdicts = WriteDiscProof(disc, [this](const std::string& Text) {
      std::fprintf(Err_, "korvane-cli: warning: %s\n", Text.c_str());
    });
    for (size_t i = 0; i < verdicts.size(); ++i)
      if (!verdicts[i].empty()) Display_.Note(static_cast<int>(jobsOf[drive][i]), verdicts[i]);
  }
}
