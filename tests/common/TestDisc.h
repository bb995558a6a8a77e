// A disc for a test from its disc-generator description: written into a test's folder and
// read back as the emulated drive will hold it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/TempDir.h"
#include "vdrive/CloneCd.h"
#include "vdrive/DiscMaker.h"

namespace vantrel::testing {

// The image is made in folder (created when missing); patch may change its files before
// they are read. A failing step fails the test and leaves the disc empty.
inline std::shared_ptr<vdrive::Disc> MakeTestDisc(const std::string& folder, std::string_view description,
                                                  const std::function<void(const std::string& image)>& patch = {})
{
    vdrive::DiscPlan plan;
    std::string error, image;
    auto disc = std::make_shared<vdrive::Disc>();
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(vdrive::ParseDiscPlan(description, plan, error)) << error;
    EXPECT_TRUE(vdrive::MakeDisc(plan, folder, image, error)) << error;
    if (patch)
        patch(image);
    EXPECT_TRUE(vdrive::ReadDiscImage(image, *disc, error)) << error;
    return disc;
}

inline std::shared_ptr<vdrive::Disc> MakeTestDisc(const TempDir& dir, std::string_view description)
{
    return MakeTestDisc(dir.Path().string(), description);
}

} // namespace vantrel::testing
