#include "support.h"

// The sample package names exactly the hardware IDs of its marker lines in its model sections.
TEST(SamplePackage, ModelLinesNameTheMarkerIds) {
  std::vector<std::string> ids;
  for (const auto& [id, description] : winsim::InfModels(test::SampleInf())) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    EXPECT_FALSE(description.empty());
  }
  EXPECT_EQ(ids, test::SampleHardwareIds());
}
