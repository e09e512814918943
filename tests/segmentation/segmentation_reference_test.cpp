#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "segmentation/segmentation_recorder.h"

// The reference file was written by the sampler that stored every block
// likelihood and every backward weight. Any change of a single bit of a
// block likelihood, log marginal, weight or posterior term, or of the number
// of random draws, changes the text.
TEST(SegmentationReference, EveryOutputMatchesTheRecordedReferenceByteForByte) {
  std::ifstream file(ALNSAMPLER_SOURCE_DIR "/tests/segmentation/segmentation_reference.txt");
  ASSERT_TRUE(file.good());
  std::ostringstream expected;
  expected << file.rdbuf();
  std::ostringstream recorded;
  record_segmentation_outputs(recorded);
  const std::string want = expected.str();
  const std::string got = recorded.str();
  if (want == got) return;
  std::size_t line = 1;
  std::size_t at = 0;
  while (at < want.size() && at < got.size() && want[at] == got[at]) line += want[at++] == '\n' ? 1 : 0;
  const std::size_t want_start = want.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t start = want_start == std::string::npos ? 0 : want_start + 1;
  FAIL() << "first difference on line " << line << "\nexpected: " << want.substr(start, want.find('\n', start) - start)
         << "\nrecorded: " << got.substr(start, got.find('\n', start) - start);
}
