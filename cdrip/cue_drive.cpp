#include "cue_drive.h"

#include "cue_image.h"

namespace cdrip {
namespace {

// Every status and table request checks the sheet and its files: an image whose files
// went away reports no disc, and one that was rewritten is read anew and shows its new
// disc. A reader keeps the files it opened.
class CueDrive : public Drive {
 public:
  CueDrive(std::string Path, std::shared_ptr<const CueImage> Image)
      : Path_(std::move(Path)), Image_(std::move(Image)) {}

  const std::string& Name() const override { return Path_; }
  bool MediaLoaded() override { return Refresh(); }
  bool AudioPlaying() override { return false; }

  std::optional<Toc> ReadToc() override {
    if (!Refresh()) return std::nullopt;
    return Image_->Contents();
  }

  std::unique_ptr<SectorReader> OpenReader(const ReadSettings&) override {
    if (!Image_ && !Refresh()) return nullptr;
    return MakeImageReader(Image_);
  }

 private:
  bool Refresh() {
    if (!Image_ || !Image_->Unchanged()) Image_ = CueImage::OpenCue(Path_);
    return Image_ != nullptr;
  }

  std::string Path_;
  std::shared_ptr<const CueImage> Image_;
};

}  // namespace

std::unique_ptr<Drive> MakeCueDrive(const std::string& Path) {
  std::shared_ptr<const CueImage> image = CueImage::OpenCue(Path);
  if (!image) return nullptr;
  return std::make_unique<CueDrive>(Path, std::move(image));
}

}  // namespace cdrip
