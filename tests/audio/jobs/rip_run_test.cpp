// The run engine with an observer that records what it hears: two discs ripped with one
// encoder and with two give the same files and tell each job the same way; an abort
// ends the running job as aborted and starts no other; a track that cannot be read fails
// alone; every format of the table writes its files, tags and aborts alike; test and copy
// proves each disc in a log of its own, reading once a track that AccurateRip confirms
// with confidence 2 or more; a log and cue sheet never replace a file, not even the
// source image's own sheet.
#include "jobs/rip_run.h"

#include <gtest/gtest.h>

#include <map>

#include "accuraterip_entry.h"
#include "cdrom/track_entry.h"
#include "command_run.h"
#include "flac_decoder.h"
#include "jobs/disc_proof.h"
#include "jobs/output_formats.h"
#include "loopback_server.h"
#include "outputs/audio_flac.h"
#include "temp_dir.h"

namespace {

class TRecorder : public TRunObserver {
 public:
  std::map<size_t, std::vector<std::string>> Events;  // by job
  std::map<size_t, TTrackEnd> Ended;
  std::function<void(size_t Job, int Percent)> OnProgress;

  void TrackStarted(size_t Job, const std::string& Name) override {
    Events[Job].push_back("start " + std::filesystem::path(Name).filename().string());
  }
  void TrackProgress(size_t Job, int Percent, int64_t, int64_t) override {
    if (OnProgress) OnProgress(Job, Percent);
  }
  void TrackEnded(size_t Job, const TTrackEnd& End) override {
    const char* results[] = {"Done", "Failed", "Aborted"};
    Events[Job].push_back(std::string("end ") + results[static_cast<int>(End.Result)] + " " +
                          End.Failure.Text());
    Ended[Job] = End;
  }
  void RunEnded(const TRunSummary& Summary) override { Last = Summary; }
  TRunSummary Last;
};

class RipRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CDRipBinding().Unload();
    CDRipBinding().SetFileNameForTesting(std::string(KORVANE_BIN_DIR) + "/" +
                                         CDRipBinding().FileName());
    ASSERT_TRUE(CDRipBinding().Load(Dir.Path().string()));
    SetMainThreadDispatcher(&Queue);
    Drives.emplace();
    Source.emplace();
  }
  void TearDown() override {
    Source.reset();
    Drives.reset();
    SetMainThreadDispatcher(nullptr);
    CDRipBinding().Unload();
  }
  // A disc image made by the maker, with each audio track's PCM beside it.
  std::string MakeDisc(const std::string& Name, const std::string& Options) {
    const std::string cue = Dir / (Name + ".cue");
    EXPECT_TRUE(RunCommand(std::string(KORVANE_BIN_DIR) + "/korvane-mkdisc " + Options +
                           " --expect '" + (Dir / (Name + "-pcm")) + "' '" + cue + "' >/dev/null"));
    return cue;
  }
  std::vector<TRunEntry> EntriesOf(const std::string& Cue, std::initializer_list<int> Tracks) {
    std::vector<TRunEntry> entries;
    for (int track : Tracks) {
      const std::string entry = TrackEntryPath(Cue, track);
      const std::string disc = std::filesystem::path(Cue).stem().string();
      entries.push_back({entry, disc + TrackEntryCaption(entry), TProblem()});
    }
    return entries;
  }
  // Rips Entries into Options.OutDir with Encoders encoders of Format.
  bool Rip(const std::vector<TRunEntry>& Entries, TRunOptions Options, size_t Encoders,
           TRecorder& Recorder, const std::function<void(TRipRun&)>& Ready = {},
           TOutputFormat Format = TOutputFormat::Flac, const TRowTagRules& Rules = {}) {
    std::filesystem::create_directories(Options.OutDir);
    TDiscKnowledge knowledge(*Drives, TLookupChoice{}, Recorder);
    const std::vector<TPlannedJob> jobs = TRunPlanner(*Drives, knowledge, Options).Plan(Entries);
    std::vector<std::unique_ptr<TAudioFileOut>> outputs(Encoders);
    TQueuePump pump(Queue);
    TRipRun run(Options, *Source, knowledge, Recorder, pump);
    TRunEncoders encoders{Format, {}, Rules};
    for (auto& output : outputs) {
      output = FormatInfo(Format).NewOutput();
      TRipRun::ConnectEvents(*output, run);
      encoders.Outputs.push_back(output.get());
    }
    if (Ready) Ready(run);
    return run.Run(jobs, encoders);
  }
  std::vector<int16_t> ExpectedSamples(const std::string& Disc, int Track) {
    const auto bytes = ReadWholeFile(Dir / (Disc + "-pcm/track0" + std::to_string(Track) + ".pcm"));
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

  TTempDir Dir;
  TQueueDispatcher Queue;
  std::optional<TDriveCatalog> Drives;
  std::optional<TCDIn> Source;
};

TEST_F(RipRunTest, OneOrTwoEncodersGiveTheSameFilesAndTellTheSameOfEachJob) {
  const std::string a = MakeDisc("a", "--tracks 3 --seconds 2,1,2 --content noise");
  const std::string b = MakeDisc("b", "--tracks 2 --seconds 1,2 --content ramp --seed 7");
  std::vector<TRunEntry> entries = EntriesOf(a, {1, 2, 3});
  for (const TRunEntry& entry : EntriesOf(b, {2, 1})) entries.push_back(entry);
  std::map<size_t, std::vector<std::string>> events[2];
  for (size_t encoders : {1, 2}) {
    TRunOptions options;
    options.OutDir = Dir / ("out" + std::to_string(encoders));
    options.TracksAtOnce = encoders;
    TRecorder recorder;
    ASSERT_TRUE(Rip(entries, options, encoders, recorder));
    events[encoders - 1] = recorder.Events;
    EXPECT_EQ(recorder.Last.Done, 5);
  }
  EXPECT_EQ(events[0], events[1]);
  EXPECT_EQ(events[0][3], (std::vector<std::string>{"start bTrack02.flac", "end Done "}));
  const std::pair<const char*, int> files[] = {{"aTrack01", 1}, {"aTrack03", 3}, {"bTrack02", 2}};
  for (const auto& [name, track] : files) {
    const std::string one = Dir / ("out1/" + std::string(name) + ".flac");
    EXPECT_EQ(ReadWholeFile(one), ReadWholeFile(Dir / ("out2/" + std::string(name) + ".flac")));
    EXPECT_EQ(flactest::Decode(one), ExpectedSamples(name[0] == 'a' ? "a" : "b", track)) << name;
  }
}

TEST_F(RipRunTest, AnAbortEndsTheRunningJobAsAbortedAndStartsNoOther) {
  const std::string a = MakeDisc("a", "--tracks 3 --seconds 1,20,1 --content noise");
  TRunOptions options;
  options.OutDir = Dir / "out";
  options.Log = true;
  TRecorder recorder;
  TRipRun* running = nullptr;
  recorder.OnProgress = [&](size_t Job, int Percent) {
    if (Job == 1 && Percent >= 10) running->Abort();
  };
  EXPECT_FALSE(
      Rip(EntriesOf(a, {1, 2, 3}), options, 1, recorder, [&](TRipRun& Run) { running = &Run; }));
  EXPECT_EQ(recorder.Ended[0].Result, TTrackResult::Done);
  EXPECT_EQ(recorder.Ended[1].Result, TTrackResult::Aborted);
  EXPECT_EQ(recorder.Events.count(2), 0u);
  EXPECT_TRUE(recorder.Last.Stopped);
  EXPECT_TRUE(flactest::PassesFlacTest(Dir / "out/aTrack02.flac"));
  // The log says the track was cut short and gives it no checksum; the cue sheet lists
  // only the whole track.
  const std::string log = CaptureCommand("cat '" + (Dir / "out/a.log") + "'").Output;
  EXPECT_NE(log.find("  Error: aborted"), std::string::npos) << log;
  EXPECT_EQ(log.find("Copy CRC"), log.rfind("Copy CRC")) << log;
  const std::string cue = CaptureCommand("cat '" + (Dir / "out/a.cue") + "'").Output;
  EXPECT_EQ(cue.find("aTrack02"), std::string::npos) << cue;
}

// Every format of the table: a file with its extension and, where the format has tags,
// the job's tags as another program reads them; an abort ends the running job as aborted
// and leaves a file that decodes.
class EveryFormat : public RipRunTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(EveryFormat, WritesTaggedFilesAndAborts) {
  const TOutputFormatInfo& format = OutputFormats()[GetParam()];
  const std::string a = MakeDisc("a", "--tracks 2 --seconds 1,20 --content noise");
  TRunOptions options;
  options.OutDir = Dir / "out";
  TRowTagRules rules;
  rules.Comments = {"ARTIST=Ann Björk"};
  rules.TitleFromName = true;
  TRecorder recorder;
  TRipRun* running = nullptr;
  recorder.OnProgress = [&](size_t Job, int Percent) {
    if (Job == 1 && Percent >= 10) running->Abort();
  };
  EXPECT_FALSE(Rip(
      EntriesOf(a, {1, 2}), options, 1, recorder, [&](TRipRun& Run) { running = &Run; },
      format.Format, rules));
  EXPECT_EQ(recorder.Ended[0].Result, TTrackResult::Done);
  EXPECT_EQ(recorder.Ended[1].Result, TTrackResult::Aborted);
  const auto probe = [&](const char* Track, const char* Entries) {
    const std::string file = Dir / ("out/a" + std::string(Track) + format.Extension);
    return CaptureCommand("ffprobe -v error -show_entries " + std::string(Entries) +
                          " -of default=nw=1 '" + file + "'")
        .Output;
  };
  std::string tags = probe("Track01", "format_tags:stream_tags");
  std::transform(tags.begin(), tags.end(), tags.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (format.Tagged) {
    EXPECT_NE(tags.find("artist=ann björk"), std::string::npos) << format.Name << tags;
    EXPECT_NE(tags.find("title=atrack01"), std::string::npos) << format.Name << tags;
  }
  EXPECT_NE(probe("Track02", "format=duration").find("duration="), std::string::npos)
      << format.Name;
}

INSTANTIATE_TEST_SUITE_P(Table, EveryFormat, ::testing::Range<size_t>(0, OutputFormats().size()),
                         [](const auto& Info) { return OutputFormats()[Info.param].Name; });

TEST_F(RipRunTest, AnUnreadableTrackFailsAloneAndTestAndCopyProvesEachDisc) {
  const std::string a = MakeDisc("a", "--tracks 3 --seconds 1,1 --data-track first");
  const std::string b = MakeDisc("b", "--tracks 2 --seconds 1,1 --seed 3");
  std::vector<TRunEntry> entries = EntriesOf(a, {1, 2, 3});
  for (const TRunEntry& entry : EntriesOf(b, {1, 2})) entries.push_back(entry);
  TRunOptions options;
  options.OutDir = Dir / "out";
  options.Verify = true;
  TRecorder recorder;
  EXPECT_TRUE(Rip(entries, options, 2, recorder));
  EXPECT_EQ(recorder.Events[0].back(), "end Failed Trying to rip a data track");
  EXPECT_EQ(recorder.Last.Done, 4);
  EXPECT_EQ(recorder.Last.Failed, 1);
  for (size_t job = 1; job < 5; ++job)
    EXPECT_EQ(recorder.Ended[job].Proof.TestCopy, "Test CRC = Copy CRC") << job;
  for (const char* log : {"out/a.log", "out/b.log"})
    EXPECT_TRUE(std::filesystem::exists(Dir / log)) << log;
}

// Disc a's entry confirms tracks 1 and 3 with confidence 5 (one read each) and track 2
// with 1 only (test and copy); disc b is not in the database (test and copy), and
// without an answer every track is read twice.
TEST_F(RipRunTest, TestAndCopyReadsOnceWhatAccurateRipConfirms) {
  const std::string a = MakeDisc("a", "--tracks 3 --seconds 1,2,1 --content noise");
  const std::string b = MakeDisc("b", "--tracks 1 --seconds 1 --seed 3");
  std::vector<std::vector<uint8_t>> pcm;
  for (int track = 1; track <= 3; ++track)
    pcm.push_back(ReadWholeFile(Dir / ("a-pcm/track0" + std::to_string(track) + ".pcm")));
  WriteAccurateRipEntry(Dir / "served", Drives->List(Drives->AddImageDrive(a)).Toc, pcm, {5, 1, 5});
  TLoopbackServer server("tests/audio/proof/entry_server.py", Dir / "served");
  ASSERT_TRUE(server.Started()) << server.StartLine;
  std::vector<TRunEntry> entries = EntriesOf(a, {1, 2, 3});
  entries.push_back(EntriesOf(b, {1}).front());
  TRunOptions options;
  options.OutDir = Dir / "out";
  options.Verify = options.AccurateRip = true;
  options.AccurateRipServer = server.Url();
  TRecorder recorder;
  ASSERT_TRUE(Rip(entries, options, 2, recorder));
  const int passes[] = {1, 2, 1, 2}, provenBy[] = {5, 0, 5, 0};
  for (size_t job = 0; job < 4; ++job) {
    const TTrackProof& proof = recorder.Ended[job].Proof;
    EXPECT_EQ(proof.Passes, passes[job]) << job;
    EXPECT_EQ(proof.ProvenBy, provenBy[job]) << job;
    EXPECT_EQ(proof.TestCopy, provenBy[job] ? "" : "Test CRC = Copy CRC") << job;
  }
  EXPECT_EQ(recorder.Last.Accurate, 3);
  const std::vector<uint8_t> bytes = ReadWholeFile(Dir / "out/a.log");
  const std::string log(bytes.begin(), bytes.end());
  const size_t second = log.find("Track 02"), third = log.find("Track 03");
  EXPECT_NE(log.find("Proof: AccurateRip (confidence 5), one read"), std::string::npos) << log;
  EXPECT_NE(log.find("Proof: test and copy, 2 reads", second), std::string::npos) << log;
  EXPECT_EQ(log.find("Test CRC:", third), std::string::npos) << log;
  EXPECT_NE(log.find("confidence 2 or more is read once"), std::string::npos) << log;
  // A lookup that fails leaves every track to test and copy.
  options.OutDir = Dir / "refused";
  options.AccurateRipServer = "http://127.0.0.1:1";
  TRecorder refused;
  ASSERT_TRUE(Rip(entries, options, 2, refused));
  for (size_t job = 0; job < 4; ++job) EXPECT_EQ(refused.Ended[job].Proof.Passes, 2) << job;
}

// Ripped into its own folder, the image keeps its sheet and audio byte for byte; a
// second disc of the same name in the run gets a log and sheet of its own.
TEST_F(RipRunTest, TheProofNeverReplacesAFile) {
  const std::string a = MakeDisc("a", "--tracks 2 --seconds 1,1");
  std::filesystem::create_directories(Dir / "other");
  const std::string other = MakeDisc("other/a", "--tracks 1 --seconds 1 --seed 5");
  const std::vector<uint8_t> sheet = ReadWholeFile(a), audio = ReadWholeFile(Dir / "a.bin");
  std::vector<TRunEntry> entries = EntriesOf(a, {2, 1});
  for (const TRunEntry& entry : EntriesOf(other, {1}))
    entries.push_back({entry.Entry, "o", TProblem()});
  TRunOptions options;
  options.OutDir = Dir.Path().string();
  options.Log = true;
  TRecorder recorder;
  ASSERT_TRUE(Rip(entries, options, 1, recorder));
  EXPECT_FALSE(recorder.Last.ProofUnwritten);
  EXPECT_EQ(ReadWholeFile(a), sheet);
  EXPECT_EQ(ReadWholeFile(Dir / "a.bin"), audio);
  EXPECT_FALSE(std::filesystem::exists(Dir / "a.log"));  // the sheet's name was taken
  for (const char* proof : {"a (2).log", "a (2).cue", "a (3).log", "a (3).cue"})
    EXPECT_TRUE(std::filesystem::exists(Dir / proof)) << proof;
  EXPECT_NE(ReadWholeFile(Dir / "a (2).cue"), ReadWholeFile(Dir / "a (3).cue"));
  // Ripped in another order, the sheet still lists the disc's tracks in order.
  const std::string cue = CaptureCommand("cat '" + (Dir / "a (2).cue") + "'").Output;
  EXPECT_LT(cue.find("TRACK 01"), cue.find("TRACK 02")) << cue;
}

// A log that cannot be written is told, and the run knows it (korvane-cli exits 1).
TEST(DiscProof, ALogThatCannotBeWrittenIsTold) {
  TTempDir dir;
  TDiscProof disc;
  disc.Listing.Name = "sr0";
  disc.Folder = dir / "missing";
  std::vector<std::string> warnings;
  const TDiscProofResult result =
      WriteDiscProof(disc, [&](const std::string& Text) { warnings.push_back(Text); });
  EXPECT_FALSE(result.Written);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("sr0.log could not be written"), std::string::npos) << warnings[0];
}

}  // namespace
