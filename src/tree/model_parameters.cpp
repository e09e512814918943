#include "tree/model_parameters.h"

const Alphabet& model_alphabet() {
  static const Alphabet alphabet;
  return alphabet;
}
