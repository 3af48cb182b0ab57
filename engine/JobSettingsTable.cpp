#include "engine/JobSettingsTable.h"

#include <array>

namespace pixquill {

namespace {

using S = SettingSyntax;
using J = JobSettings;

constexpr std::array kRows{
    JobSettingRow{&J::SourceFolder, "SOURCE", S::Folder, nullptr, "Folder holding the images."},
    JobSettingRow{&J::DestinationFolder, "DEST", S::Folder, nullptr,
                  "Folder for the thumbnails (created, one level, when missing)."},
    JobSettingRow{&J::Prefix, "prefix", S::Text, "TEXT", "Text put in front of every output name"},
    JobSettingRow{&J::WidthText, "width", S::Number, "N", "Width in pixels, or the percentage in percent mode"},
    JobSettingRow{&J::HeightText, "height", S::Number, "N", "Height in pixels"},
    JobSettingRow{&J::ResizeMode, "resize", S::Choice, "MODE", nullptr, ResizeModeChoices},
    JobSettingRow{&J::Crop, "crop", S::Choice, "WHERE", "Where --resize fill cuts the picture:", CropChoices},
    JobSettingRow{&J::ResampleFilter, "filter", S::Choice, "FILTER", nullptr, ResampleFilterChoices},
    JobSettingRow{&J::OutputFormat, "format", S::Choice, "FORMAT", nullptr, OutputFormatChoices},
    JobSettingRow{&J::FastDecode, "fast", S::Switch, nullptr,
                  "Also decode JPEGs at a reduced scale (1/2 to 1/8) where the thumbnail is at most half the "
                  "image: the same sizes, nearly the same pixels, much faster."},
    JobSettingRow{&J::Quality, "quality", S::Quality, "N"},
    JobSettingRow{&J::Keep, "keep", S::Choice, "WHAT",
                  "Metadata each thumbnail takes over from its image (JPEG, PNG, TIFF, WebP, AVIF and JPEG XL "
                  "thumbnails): copyright, the author and copyright (EXIF Artist and Copyright, XMP dc:creator and "
                  "dc:rights); exif, every EXIF and XMP field, the orientation set to 1 since the pixels are "
                  "upright. The location (GPS) and the camera maker's notes never go. An image whose metadata "
                  "cannot be read is thumbnailed without, with a warning. One of", KeepChoices},
    JobSettingRow{&J::Sizes, "size", S::Sizes, "WxH",
                  "A thumbnail's box, instead of --width and --height: --size 400x300 is --width 400 "
                  "--height 300. Given more than once, every image becomes a thumbnail for each box, all "
                  "made from one decode (for the largest) with the same filter, each exactly as a run of "
                  "its box alone would make it, named with \"-W\" before the extension, W being the "
                  "box's width as given: _THa-320.webp, _THa-640.webp."},
};

} // namespace

std::span<const JobSettingRow> JobSettingRows()
{
    return kRows;
}

QString ChoiceName(const std::vector<NamedChoice>& choices, int value)
{
    for (const NamedChoice& choice : choices) {
        if (choice.Value == value)
            return QString::fromLatin1(choice.Name);
    }
    return {};
}

} // namespace pixquill
