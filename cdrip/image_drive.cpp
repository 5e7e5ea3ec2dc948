#include "image_drive.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

#include "cdrip.h"
#include "cue_image.h"
#include "image_error.h"
#include "nrg_image.h"
#include "text_case.h"
#include "toc_image.h"

namespace cdrip {
namespace {

using ImageOpener = std::shared_ptr<const FileImage> (*)(const std::string&);

// By the extensions of CDRIP_IMAGE_EXTENSIONS; any other name is read as a cue sheet.
ImageOpener OpenerFor(const std::string& Path) {
  static_assert(std::string_view(CDRIP_IMAGE_EXTENSIONS) == ".cue .toc .nrg",
                "every extension the library names has its opener here");
  const std::string extension = Lower(std::filesystem::path(Path).extension().string());
  if (extension == ".toc") return OpenTocImage;
  if (extension == ".nrg") return OpenNrgImage;
  return OpenCueImage;
}

// Every status and table request checks the sheet and its files: an image whose files
// went away, or turned into something that cannot be read, reports no disc, and one
// that was rewritten is read anew and shows its new disc. A reader keeps the files it
// opened.
class ImageDrive : public Drive {
 public:
  ImageDrive(std::string Path, ImageOpener Open, std::shared_ptr<const FileImage> Image)
      : Path_(std::move(Path)), Open_(Open), Image_(std::move(Image)) {}

  const std::string& Name() const override { return Path_; }
  bool MediaLoaded() override { return Refresh(); }
  bool AudioPlaying() override { return false; }

  std::optional<Toc> ReadToc() override {
    if (!Refresh()) return std::nullopt;
    Toc contents = Image_->Contents();
    contents.Generation = Generation_;
    return contents;
  }

  std::unique_ptr<SectorReader> OpenReader(const ReadSettings&) override {
    if (!Image_ && !Refresh()) return nullptr;
    return MakeImageReader(Image_);
  }

 private:
  bool Refresh() {
    if (Image_ && Image_->Unchanged()) return true;
    try {
      Image_ = Open_(Path_);
      ++Generation_;
    } catch (const EImageError&) {
      Image_.reset();
    }
    return Image_ != nullptr;
  }

  std::string Path_;
  ImageOpener Open_;
  std::shared_ptr<const FileImage> Image_;
  uint64_t Generation_ = 0;  // the times the files were read anew
};

}  // namespace

std::unique_ptr<Drive> MakeImageDrive(const std::string& Path) {
  const ImageOpener open = OpenerFor(Path);
  return std::make_unique<ImageDrive>(Path, open, open(Path));
}

}  // namespace cdrip
