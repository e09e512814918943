#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "segmentation/segmentation_recorder.h"
#include "tree/worker_pool.h"

namespace {

std::string reference_text() {
  std::ifstream file(ALNSAMPLER_SOURCE_DIR "/tests/segmentation/segmentation_reference.txt");
  EXPECT_TRUE(file.good());
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Empty when the texts agree, else the first line where they differ.
std::string first_difference(const std::string& want, const std::string& got) {
  if (want == got) return "";
  std::size_t line = 1;
  std::size_t at = 0;
  while (at < want.size() && at < got.size() && want[at] == got[at]) line += want[at++] == '\n' ? 1 : 0;
  const std::size_t want_start = want.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t start = want_start == std::string::npos ? 0 : want_start + 1;
  return "first difference on line " + std::to_string(line) +
         "\nexpected: " + want.substr(start, want.find('\n', start) - start) +
         "\nrecorded: " + got.substr(start, got.find('\n', start) - start);
}

}  // namespace

// The reference file was written by the sampler that stored every block
// likelihood and every backward weight. Any change of a single bit of a
// block likelihood, log marginal, weight or posterior term, or of the number
// of random draws, changes the text.
TEST(SegmentationReference, EveryOutputMatchesTheRecordedReferenceByteForByte) {
  std::ostringstream recorded;
  record_segmentation_outputs(recorded);
  const std::string difference = first_difference(reference_text(), recorded.str());
  EXPECT_TRUE(difference.empty()) << difference;
}

// The forward recursion shared among threads (every k_max from 0 to 6 meets
// pipelines of one to five threads, some with more threads than tasks) must
// give every value, and so every draw, of the single-threaded one.
TEST(SegmentationReference, EveryNumberOfThreadsGivesTheReferenceByteForByte) {
  const std::string want = reference_text();
  for (const int threads : {1, 2, 3, 5}) {
    WorkerPool pool(threads);
    std::ostringstream recorded;
    record_segmentation_outputs(recorded, &pool);
    const std::string difference = first_difference(want, recorded.str());
    EXPECT_TRUE(difference.empty()) << threads << " threads: " << difference;
  }
}
