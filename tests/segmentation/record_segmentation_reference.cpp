// Writes the segmentation reference outputs to standard output. Regenerate
// tests/segmentation/segmentation_reference.txt with it only when a change
// of the drawn values is intended:
//   build/tests/segmentation/record_segmentation_reference > tests/segmentation/segmentation_reference.txt
#include <iostream>

#include "segmentation/segmentation_recorder.h"

int main() {
  record_segmentation_outputs(std::cout);
  return 0;
}
