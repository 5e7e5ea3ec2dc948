#include "rip_session.h"

#include <algorithm>
#include <filesystem>

#include "disc_knowledge.h"
#include "disc_proof.h"
#include "disc_tags.h"
#include "rip_proof.h"
#include "track_entry.h"

std::atomic<int> TRipSession::StopSignal{0};

namespace {

std::string LengthText(const TCDTrackInfo& Info) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d:%02d.%02d", Info.Minutes, Info.Seconds, Info.Frames);
  return text;
}

// Why no drive was found for Path (a source, or a track entry's drive root): a path
// that is not there is named as missing; otherwise the catalogue's reason stands.
std::string NoDriveReason(const std::string& Path, const std::string& CatalogReason) {
  std::error_code error;
  const bool exists = std::filesystem::exists(Path, error);
  if (!exists && !error) return Path + " does not exist.";
  if (exists && CatalogReason == DriveNotReady)
    return Path + " is neither a CD drive nor a disc image.";
  return CatalogReason;
}

}  // namespace

TRipSession::TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err, bool Terminal)
    : Options_(Options), Out_(Out), Err_(Err), Display_(Out, Err, Terminal) {
  SetMainThreadDispatcher(&Dispatcher_);
}

TRipSession::~TRipSession() { SetMainThreadDispatcher(nullptr); }

// ---------------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------------

void TRipSession::AddWholeDrive(int Drive, std::vector<TRipJob>& Jobs) {
  const TDriveListing listing = Drives_.List(Drive);
  if (!listing.Ready) {
    Jobs.push_back({listing.Name, DriveNotReady});
    return;
  }
  for (const TTrackListing& track : listing.Tracks)
    if (!track.Info.IsData) Jobs.push_back({track.Entry, ""});
}

// Why a track entry named on the command line cannot be ripped; empty when it can.
std::string TRipSession::EntryProblem(const std::string& Entry) {
  try {
    TrackEntryNumber(Entry);
  } catch (const EAudioException& e) {
    return e.what();
  }
  if (Drives_.DriveOfEntry(Entry) >= 0) return std::string();
  return NoDriveReason(TrackEntryDriveRoot(Entry), Drives_.LastError());
}

std::vector<TRipJob> TRipSession::ResolveSources() {
  std::vector<TRipJob> jobs;
  if (Options_.Sources.empty()) {
    if (Drives_.DriveCount() == 0)
      throw TUsageError("There is no CD drive. Name a disc image or a track entry to rip.");
    AddWholeDrive(0, jobs);
    return jobs;
  }
  for (const std::string& source : Options_.Sources) {
    if (HasTrackEntryExtension(source)) {
      jobs.push_back({source, EntryProblem(source)});
      continue;
    }
    const int drive = Drives_.DriveOfSource(source);
    if (drive < 0)
      jobs.push_back({source, NoDriveReason(source, Drives_.LastError())});
    else
      AddWholeDrive(drive, jobs);
  }
  return jobs;
}

// ---------------------------------------------------------------------------------
// Ripping
// ---------------------------------------------------------------------------------

int TRipSession::Run() {
  std::vector<std::unique_ptr<TFormatSetup>> formats;
  formats.push_back(TFormatSetup::Create(Options_));
  for (const std::string& warning : formats.front()->Warnings())
    std::fprintf(Err_, "korvane-cli: warning: %s\n", warning.c_str());
  const std::vector<TRipJob> jobs = ResolveSources();
  if (jobs.empty()) {
    std::fprintf(Err_, "korvane-cli: nothing to rip: the sources hold no audio tracks.\n");
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(Options_.OutDir, error);
  const std::vector<TPlannedJob> planned = Plan(jobs);
  // A WAV file is written as fast as the disc is read: a second writer would only make
  // the reader spool tracks to disk.
  const size_t jobsAtOnce =
      formats.front()->Format() == TOutputFormat::Wav ? 1 : static_cast<size_t>(Options_.Jobs);
  const size_t encoders = std::min(jobsAtOnce, jobs.size());
  while (formats.size() < encoders) formats.push_back(TFormatSetup::Create(Options_));
  TTrackRunner runner(Options_, std::move(formats), Display_, Dispatcher_, CDIn_, StopSignal);
  const bool finished = runner.Run(planned);
  TRunProof(Options_, Knowledge_, Display_, Err_).Prove(planned, runner.Outcomes());
  if (!finished)
    std::fprintf(Err_, "korvane-cli: aborted; the remaining tracks were not ripped.\n");
  Display_.PrintSummary();
  if (!finished) return 128 + StopSignal;
  return Display_.Failed() ? 1 : 0;
}

// Finds each job's drive and track before the run: once the disc reader runs, it alone
// talks to the CD library.
std::vector<TPlannedJob> TRipSession::Plan(const std::vector<TRipJob>& Jobs) {
  std::vector<TPlannedJob> planned;
  TDiscKnowledge& knowledge = Knowledge_;
  for (const TRipJob& job : Jobs) {
    TPlannedJob plan{job.Entry, job.Problem, !job.Problem.empty(), {}, {}, {}};
    plan.Caption = TrackEntryCaption(job.Entry);
    if (plan.Problem.empty()) {
      try {
        plan.Problem = Starter_.SelectTrack(job.Entry);
      } catch (const std::exception& e) {
        plan.Problem = e.what();
      }
      plan.Read.Drive = CDIn_.CurrentDrive();
      plan.Read.Track = CDIn_.StartTrack();
      plan.Read.Offset = Options_.Offset.value_or(CDIn_.ReadOffset());
      plan.Read.Prove = Options_.Log;
      plan.Read.Verify = Options_.Verify;
      plan.Read.Retries = Options_.Retries;
    }
    if (plan.Problem.empty()) {
      const TDiscFacts& disc = knowledge.Of(plan.Read.Drive);
      plan.Read.Place = PlaceOf(disc.Listing, plan.Read.Track);
      Name(plan, disc);
    }
    planned.push_back(plan);
  }
  return planned;
}

// The job's name from the template, and its tags from what is known of its disc; a disc
// that says nothing of itself adds no tags (the files are then those the window writes).
void TRipSession::Name(TPlannedJob& Plan, const TDiscFacts& Disc) {
  const TTrackTags tags =
      TrackTagsOf(Disc.Info, Plan.Read.Track, static_cast<int>(Disc.Listing.Tracks.size()));
  if (HasText(Disc.Info)) Plan.Tags = tags;
  if (!Options_.NameTemplate.empty())
    Plan.Caption = NameFromTemplate(Options_.NameTemplate, tags, Plan.Caption);
}

int TRipSession::List() {
  int status = 0;
  // Each source's drive is added to the listing; one that cannot be read is reported.
  for (const std::string& source : Options_.Sources) {
    std::string problem;
    if (HasTrackEntryExtension(source))
      problem = EntryProblem(source);
    else if (Drives_.DriveOfSource(source) < 0)
      problem = NoDriveReason(source, Drives_.LastError());
    if (problem.empty()) continue;
    std::fprintf(Err_, "korvane-cli: %s: %s\n", source.c_str(), problem.c_str());
    status = 1;
  }
  const std::vector<TDriveListing> drives = Drives_.ListAll();
  if (drives.empty()) std::fprintf(Out_, "No CD drive found.\n");
  for (const TDriveListing& drive : drives) {
    std::fprintf(Out_, "Drive %d: %s\n", drive.Drive, drive.Name.c_str());
    if (!drive.Ready) {
      std::fprintf(Out_, "  (no disc, or the table of contents cannot be read)\n");
      continue;
    }
    for (const TTrackListing& track : drive.Tracks)
      std::fprintf(Out_, "  %s  %s  %s\n", track.Entry.c_str(), LengthText(track.Info).c_str(),
                   track.Info.IsData ? "data" : "audio");
    PrintDiscKnowledge(drive);
  }
  return status;
}

// The disc's identities, and its texts when it has any.
void TRipSession::PrintDiscKnowledge(const TDriveListing& Drive) {
  const std::string musicBrainz = MusicBrainzDiscId(Drive.Toc);
  std::fprintf(Out_, "  Disc ids: MusicBrainz %s, freedb %s\n",
               musicBrainz.empty() ? "(none: no audio track)" : musicBrainz.c_str(),
               FreedbDiscId(Drive.Toc).c_str());
  if (!HasText(Drive.Text)) return;
  std::string disc;
  const std::pair<const char*, const std::string*> parts[] = {{"Album", &Drive.Text.Album},
                                                              {"Artist", &Drive.Text.Artist},
                                                              {"Year", &Drive.Text.Year},
                                                              {"Genre", &Drive.Text.Genre}};
  for (const auto& [label, value] : parts)
    if (!value->empty()) disc += std::string(disc.empty() ? "" : " / ") + label + ": " + *value;
  if (!disc.empty()) std::fprintf(Out_, "  %s\n", disc.c_str());
  for (size_t i = 0; i < Drive.Text.TrackTitles.size(); ++i) {
    const std::string& title = Drive.Text.TrackTitles[i];
    const std::string& artist = Drive.Text.TrackArtists[i];
    if (title.empty() && artist.empty()) continue;
    std::fprintf(Out_, "  Track %02zu: %s%s%s\n", i + 1, title.c_str(), artist.empty() ? "" : " / ",
                 artist.c_str());
  }
}
